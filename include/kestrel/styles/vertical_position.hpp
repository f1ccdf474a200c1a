/// \file
/// Vertical placement of a text or an icon: "top", "bottom" or "middle" (the case center, whose raw
/// value is "middle", not "center").
#pragma once

#include <kestrel/json.hpp>
#include <kestrel/raw_value.hpp>

#include <array>
#include <string_view>
#include <utility>

namespace kestrel {

/// Vertical placement of a text or an icon; raw values "top", "bottom" and "middle" (for
/// center).
enum class VerticalPosition { top, bottom, center };

/// The raw value of each case of VerticalPosition, for rawValue and fromRawValue.
template <>
struct EnumRawValues<VerticalPosition> {
    /// Every case with its raw value, in declaration order.
    static constexpr std::array values{
        std::pair{VerticalPosition::top, std::string_view("top")},
        std::pair{VerticalPosition::bottom, std::string_view("bottom")},
        std::pair{VerticalPosition::center, std::string_view("middle")}};
};

/// Decodes a VerticalPosition from a single JSON string holding its raw value. A string that is
/// not exactly a raw value, or a value that is not a string, throws DecodingError.
VerticalPosition decodeVerticalPosition(const JsonValue& value);

} // namespace kestrel
