/// \file
/// The look of an action's label, read from the "text" dictionary of a style.
#pragma once

#include <kestrel/json.hpp>
#include <kestrel/styles/font_style.hpp>
#include <kestrel/styles/font_weight.hpp>
#include <kestrel/styles/horizontal_position.hpp>
#include <kestrel/styles/qr_code_type.hpp>
#include <kestrel/styles/vertical_position.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace kestrel {

/// The look of an action's label. Every field is absent when the style does not give it.
struct Text {
    std::optional<std::string> color;            ///< "color", as received, never parsed
    std::optional<float> opacity;                ///< "opacity", a number or a numeric text
    std::optional<std::string> rgbaColor;        ///< color again when it contains "rgba"
    std::optional<FontWeight> fontWeight;        ///< "font-weight"
    std::optional<FontStyle> fontStyle;          ///< "font-style"
    std::optional<std::int64_t> fontSize;        ///< "font-size", a whole-number text
    std::optional<bool> display;                 ///< "display": true only for the text "true"
    std::optional<HorizontalPosition> hposition; ///< "hposition"
    std::optional<VerticalPosition> vposition;   ///< "vposition"
    std::optional<std::string> backgroundColor;  ///< "background-color", as received, never parsed

    /// Builds a text style from a dictionary with the keys "color", "opacity", "font-style",
    /// "font-weight", "font-size", "display", "hposition", "vposition" and "background-color".
    /// Never fails: a missing key or a value that does not convert leaves its field absent
    /// ("display" is false for any text other than exactly "true"); other keys are ignored; a
    /// value that is not an object gives a text style with every field absent.
    static Text fromDictionary(const JsonValue& dictionary);

    /// The default text style of a scanned code of the given kind.
    static Text forQrCodeType(QrCodeType type);

    /// Equal when every field is equal.
    bool operator==(const Text&) const = default;
};

} // namespace kestrel
