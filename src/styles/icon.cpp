#include "styles/style_values.hpp"
#include "json/lenient.hpp"

#include <kestrel/styles/icon.hpp>

namespace kestrel {

Icon Icon::fromDictionary(const JsonValue& dictionary) {
    Icon icon;
    if (const auto size = json::readText(dictionary, "size"))
        icon.size = json::parseDoubleText(*size);
    icon.display = styles::readDisplay(dictionary, "display");
    icon.hposition = styles::readRawValue<HorizontalPosition>(dictionary, "hposition");
    icon.vposition = styles::readRawValue<VerticalPosition>(dictionary, "vposition");
    return icon;
}

} // namespace kestrel
