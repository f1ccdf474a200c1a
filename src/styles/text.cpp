#include "styles/style_values.hpp"
#include "json/lenient.hpp"

#include <kestrel/styles/text.hpp>

namespace kestrel {

Text Text::fromDictionary(const JsonValue& dictionary) {
    Text text;
    text.color = json::readText(dictionary, "color");
    text.opacity = styles::readOpacity(dictionary, "opacity");
    // Only the character colour is looked at here, never the background colour.
    text.rgbaColor = styles::rgbaColorOf(text.color);
    text.fontStyle = styles::readRawValue<FontStyle>(dictionary, "font-style");
    text.fontWeight = styles::readRawValue<FontWeight>(dictionary, "font-weight");
    if (const auto size = json::readText(dictionary, "font-size"))
        text.fontSize = json::parseInt64Text(*size);
    text.display = styles::readDisplay(dictionary, "display");
    text.hposition = styles::readRawValue<HorizontalPosition>(dictionary, "hposition");
    text.vposition = styles::readRawValue<VerticalPosition>(dictionary, "vposition");
    text.backgroundColor = json::readText(dictionary, "background-color");
    return text;
}

} // namespace kestrel
