// How a button's image is fitted into the button: "cover" or "contain".
#pragma once

#include <kestrel/json.hpp>
#include <kestrel/raw_value.hpp>

#include <array>
#include <string_view>
#include <utility>

namespace kestrel {

enum class ImageSize { cover, contain };

template <>
struct EnumRawValues<ImageSize> {
    static constexpr std::array values{std::pair{ImageSize::cover, std::string_view("cover")},
                                       std::pair{ImageSize::contain, std::string_view("contain")}};
};

// Decodes an ImageSize from a single JSON string holding its raw value. A string that is not
// exactly a raw value, or a value that is not a string, throws DecodingError.
ImageSize decodeImageSize(const JsonValue& value);

} // namespace kestrel
