#include "json/lenient.hpp"

#include <kestrel/styles/float_value.hpp>

namespace kestrel {

std::optional<float> floatValue(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    return json::parseFloatText(*text);
}

} // namespace kestrel
