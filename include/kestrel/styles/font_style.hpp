/// \file
/// Slant of a text style's font: "normal" or "italic".
#pragma once

#include <kestrel/json.hpp>
#include <kestrel/raw_value.hpp>

#include <array>
#include <string_view>
#include <utility>

namespace kestrel {

/// The slant of a text style's font; raw values "normal" and "italic".
enum class FontStyle { normal, italic };

/// The raw value of each case of FontStyle, for rawValue and fromRawValue.
template <>
struct EnumRawValues<FontStyle> {
    /// Every case with its raw value, in declaration order.
    static constexpr std::array values{std::pair{FontStyle::normal, std::string_view("normal")},
                                       std::pair{FontStyle::italic, std::string_view("italic")}};
};

/// Decodes a FontStyle from a single JSON string holding its raw value. A string that is not
/// exactly a raw value, or a value that is not a string, throws DecodingError.
FontStyle decodeFontStyle(const JsonValue& value);

} // namespace kestrel
