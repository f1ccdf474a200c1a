// Vertical placement of a text or an icon: "top", "bottom" or "middle" (the case center, whose raw
// value is "middle", not "center").
#pragma once

#include <kestrel/json.hpp>
#include <kestrel/raw_value.hpp>

#include <array>
#include <string_view>
#include <utility>

namespace kestrel {

enum class VerticalPosition { top, bottom, center };

template <>
struct EnumRawValues<VerticalPosition> {
    static constexpr std::array values{
        std::pair{VerticalPosition::top, std::string_view("top")},
        std::pair{VerticalPosition::bottom, std::string_view("bottom")},
        std::pair{VerticalPosition::center, std::string_view("middle")}};
};

// Decodes a VerticalPosition from a single JSON string holding its raw value. A string that is
// not exactly a raw value, or a value that is not a string, throws DecodingError.
VerticalPosition decodeVerticalPosition(const JsonValue& value);

} // namespace kestrel
