#include "json/lenient.hpp"

#include <kestrel/styles/height.hpp>

#include <string>
#include <string_view>

namespace kestrel {

namespace {

// The member when it is present and not null: a null member counts as missing.
const JsonValue* presentMember(const JsonValue& object, std::string_view key) {
    const JsonValue* v = json::member(object, key);
    return v && !v->is_null() ? v : nullptr;
}

[[noreturn]] void wrongMember(std::string_view key, std::string_view expected,
                              const JsonValue& found) {
    throw DecodingError("Height: \"" + std::string(key) + "\" must be " + std::string(expected) +
                        ", found " +
                        (found.is_number() ? std::string("a number out of range")
                                           : std::string(found.type_name())));
}

std::optional<float> decodeRatio(const JsonValue& object, std::string_view key) {
    const JsonValue* v = presentMember(object, key);
    if (!v) return std::nullopt;
    const auto ratio = json::asFloat(*v);
    if (!ratio) wrongMember(key, "a number within the float range", *v);
    return ratio;
}

} // namespace

Height Height::decode(const JsonValue& value) {
    if (!value.is_object())
        throw DecodingError(std::string("Height: expected an object, found ") + value.type_name());
    Height height;
    if (const JsonValue* v = presentMember(value, "value")) {
        height.value = json::asInt64(*v);
        if (!height.value) wrongMember("value", "a whole number in the signed 64-bit range", *v);
    }
    height.ratioWidth = decodeRatio(value, "ratioWidth");
    height.ratioHeight = decodeRatio(value, "ratioHeight");
    return height;
}

} // namespace kestrel
