/// \file
/// Weight of a text style's font: "normal" or "bold".
#pragma once

#include <kestrel/json.hpp>
#include <kestrel/raw_value.hpp>

#include <array>
#include <string_view>
#include <utility>

namespace kestrel {

/// The weight of a text style's font; raw values "normal" and "bold".
enum class FontWeight { normal, bold };

/// The raw value of each case of FontWeight, for rawValue and fromRawValue.
template <>
struct EnumRawValues<FontWeight> {
    /// Every case with its raw value, in declaration order.
    static constexpr std::array values{std::pair{FontWeight::normal, std::string_view("normal")},
                                       std::pair{FontWeight::bold, std::string_view("bold")}};
};

/// Decodes a FontWeight from a single JSON string holding its raw value. A string that is not
/// exactly a raw value, or a value that is not a string, throws DecodingError.
FontWeight decodeFontWeight(const JsonValue& value);

} // namespace kestrel
