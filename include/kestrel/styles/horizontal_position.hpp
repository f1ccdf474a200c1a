/// \file
/// Horizontal placement of a button image, a text or an icon: "left", "right" or "center", and
/// its platform text alignment.
#pragma once

#include <kestrel/json.hpp>
#include <kestrel/platform/text_alignment.hpp>
#include <kestrel/raw_value.hpp>

#include <array>
#include <string_view>
#include <utility>

namespace kestrel {

/// Horizontal placement of a button image, a text or an icon; raw values "left", "right" and
/// "center".
enum class HorizontalPosition { left, right, center };

/// The raw value of each case of HorizontalPosition, for rawValue and fromRawValue.
template <>
struct EnumRawValues<HorizontalPosition> {
    /// Every case with its raw value, in declaration order.
    static constexpr std::array values{
        std::pair{HorizontalPosition::left, std::string_view("left")},
        std::pair{HorizontalPosition::right, std::string_view("right")},
        std::pair{HorizontalPosition::center, std::string_view("center")}};
};

/// The text alignment of a position: left gives left, right gives right, anything else centred.
platform::TextAlignment nsTextAlignment(HorizontalPosition position);

/// Decodes a HorizontalPosition from a single JSON string holding its raw value. A string that is
/// not exactly a raw value, or a value that is not a string, throws DecodingError.
HorizontalPosition decodeHorizontalPosition(const JsonValue& value);

} // namespace kestrel
