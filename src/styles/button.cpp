#include "styles/style_values.hpp"
#include "json/lenient.hpp"

#include <kestrel/styles/button.hpp>

#include <string_view>

namespace kestrel {

namespace {

// "height" is either a whole integer text (a fixed height) or a ratio text "<width>x<height>".
// A ratio text is split at every lower-case "x"; only the first two parts are read, each on its
// own, so that a part that does not convert leaves only its own ratio field absent.
std::optional<Height> heightFromText(std::string_view text) {
    if (const auto value = json::parseInt64Text(text)) return Height{value, {}, {}};
    const auto firstX = text.find('x');
    if (firstX == std::string_view::npos) return std::nullopt;
    const std::string_view width = text.substr(0, firstX);
    std::string_view height = text.substr(firstX + 1);
    height = height.substr(0, height.find('x'));
    return Height{{}, json::parseFloatText(width), json::parseFloatText(height)};
}

} // namespace

Button Button::fromDictionary(const JsonValue& dictionary) {
    Button button;
    button.backgroundColor = json::readText(dictionary, "background-color");
    button.opacity = styles::readOpacity(dictionary, "opacity");
    button.rgbaColor = styles::rgbaColorOf(button.backgroundColor);
    button.display = styles::readDisplay(dictionary, "display");
    if (const auto text = json::readText(dictionary, "height"))
        button.height = heightFromText(*text);
    if (const auto text = json::readText(dictionary, "radius"))
        button.radius = json::parseInt64Text(*text);
    button.imageSize = styles::readRawValue<ImageSize>(dictionary, "image-size");
    button.imagePosition = styles::readRawValue<HorizontalPosition>(dictionary, "image-position");
    return button;
}

} // namespace kestrel
