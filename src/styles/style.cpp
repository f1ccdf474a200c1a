#include "json/lenient.hpp"

#include <kestrel/styles/style.hpp>

namespace kestrel {

Style Style::fromDictionary(const JsonValue& dictionary) {
    Style style;
    style.model = json::readText(dictionary, "model");
    style.version = json::readText(dictionary, "version");
    if (const JsonValue* button = json::readObject(dictionary, "button"))
        style.button = Button::fromDictionary(*button);
    if (const JsonValue* icon = json::readObject(dictionary, "icon"))
        style.icon = Icon::fromDictionary(*icon);
    if (const JsonValue* text = json::readObject(dictionary, "text"))
        style.text = Text::fromDictionary(*text);
    return style;
}

} // namespace kestrel
