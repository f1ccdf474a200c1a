#include "styles/style_values.hpp"

namespace kestrel::styles {

std::optional<bool> readDisplay(const JsonValue& dictionary, std::string_view key) {
    const auto text = json::readText(dictionary, key);
    if (!text) return std::nullopt;
    return *text == "true";
}

std::optional<float> readOpacity(const JsonValue& dictionary, std::string_view key) {
    if (const auto text = json::readText(dictionary, key)) return json::parseFloatText(*text);
    return json::readFloat(dictionary, key);
}

std::optional<std::string> rgbaColorOf(const std::optional<std::string>& color) {
    if (color && color->find("rgba") != std::string::npos) return color;
    return std::nullopt;
}

} // namespace kestrel::styles
