/// \file
/// How a button's image is fitted into the button: "cover" or "contain".
#pragma once

#include <kestrel/json.hpp>
#include <kestrel/raw_value.hpp>

#include <array>
#include <string_view>
#include <utility>

namespace kestrel {

/// How a button's image is fitted into the button; raw values "cover" and "contain".
enum class ImageSize { cover, contain };

/// The raw value of each case of ImageSize, for rawValue and fromRawValue.
template <>
struct EnumRawValues<ImageSize> {
    /// Every case with its raw value, in declaration order.
    static constexpr std::array values{std::pair{ImageSize::cover, std::string_view("cover")},
                                       std::pair{ImageSize::contain, std::string_view("contain")}};
};

/// Decodes an ImageSize from a single JSON string holding its raw value. A string that is not
/// exactly a raw value, or a value that is not a string, throws DecodingError.
ImageSize decodeImageSize(const JsonValue& value);

} // namespace kestrel
