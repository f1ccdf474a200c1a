// Slant of a text style's font: "normal" or "italic".
#pragma once

#include <kestrel/json.hpp>
#include <kestrel/raw_value.hpp>

#include <array>
#include <string_view>
#include <utility>

namespace kestrel {

enum class FontStyle { normal, italic };

template <>
struct EnumRawValues<FontStyle> {
    static constexpr std::array values{std::pair{FontStyle::normal, std::string_view("normal")},
                                       std::pair{FontStyle::italic, std::string_view("italic")}};
};

// Decodes a FontStyle from a single JSON string holding its raw value. A string that is not
// exactly a raw value, or a value that is not a string, throws DecodingError.
FontStyle decodeFontStyle(const JsonValue& value);

} // namespace kestrel
