/// \file
/// The look of an action's button, read from the "button" dictionary of a style.
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

/// The look of an action's button. Every field is absent when the style does not give it.
struct Button {
    std::optional<std::string> backgroundColor; ///< "background-color", as received, never parsed
    std::optional<float> opacity;               ///< "opacity", a number or a numeric text
    std::optional<std::string> rgbaColor;       ///< backgroundColor again when it contains "rgba"
    std::optional<bool> display;                ///< "display": true only for the text "true"
    std::optional<std::int64_t> radius;         ///< "radius", a whole-number text
    /// "height": a whole-number text gives a fixed height, a text "<width>x<height>" a ratio.
    std::optional<Height> height;
    std::optional<ImageSize> imageSize;              ///< "image-size"
    std::optional<HorizontalPosition> imagePosition; ///< "image-position"

    /// Builds a button style from a dictionary with the keys "background-color", "opacity",
    /// "display", "height", "radius", "image-size" and "image-position". Never fails: a missing
    /// key or a value that does not convert leaves its field absent ("display" is false for any
    /// text other than exactly "true"); other keys are ignored; a value that is not an object
    /// gives a button with every field absent.
    static Button fromDictionary(const JsonValue& dictionary);

    /// The default button of a scanned code of the given kind.
    static Button forQrCodeType(QrCodeType type);

    /// Equal when every field is equal.
    bool operator==(const Button&) const = default;
};

} // namespace kestrel
