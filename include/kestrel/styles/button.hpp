// The look of an action's button, read from the "button" dictionary of a style.
#pragma once

#include <kestrel/json.hpp>
#include <kestrel/styles/height.hpp>
#include <kestrel/styles/horizontal_position.hpp>
#include <kestrel/styles/image_size.hpp>
#include <kestrel/styles/qr_code_type.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace kestrel {

struct Button {
    std::optional<std::string> backgroundColor; // as received, never parsed
    std::optional<float> opacity;
    std::optional<std::string> rgbaColor; // backgroundColor again when it contains "rgba"
    std::optional<bool> display;
    std::optional<std::int64_t> radius;
    std::optional<Height> height;
    std::optional<ImageSize> imageSize;
    std::optional<HorizontalPosition> imagePosition;

    // Builds a button style from a dictionary with the keys "background-color", "opacity",
    // "display", "height", "radius", "image-size" and "image-position". Never fails: a missing
    // key or a value that does not convert leaves its field absent ("display" is false for any
    // text other than exactly "true"); other keys are ignored; a value that is not an object
    // gives a button with every field absent.
    static Button fromDictionary(const JsonValue& dictionary);

    // The default button of a scanned code of the given kind.
    static Button forQrCodeType(QrCodeType type);

    bool operator==(const Button&) const = default;
};

} // namespace kestrel
