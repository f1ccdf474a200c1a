/// \file
/// The display style of an action or a page title: its button, icon and text looks.
#pragma once

#include <kestrel/json.hpp>
#include <kestrel/styles/button.hpp>
#include <kestrel/styles/icon.hpp>
#include <kestrel/styles/qr_code_type.hpp>
#include <kestrel/styles/text.hpp>

#include <optional>
#include <string>

namespace kestrel {

/// The display style of an action or a page title.
struct Style {
    std::optional<std::string> model;     ///< "model", as received
    std::optional<std::string> version;   ///< "version", as received
    std::optional<Button> button;         ///< from the "button" dictionary
    std::optional<Icon> icon;             ///< from the "icon" dictionary
    std::optional<Text> text;             ///< from the "text" dictionary
    std::optional<QrCodeType> qrCodeType; ///< set only on the default style of a scanned code

    /// Builds a style from a style dictionary: "model" and "version" texts, and "button", "icon"
    /// and "text" dictionaries. Never fails: a missing key or a value of another kind leaves its
    /// field absent, other keys are ignored, and a value that is not an object gives a style with
    /// every field absent. qrCodeType is always absent.
    static Style fromDictionary(const JsonValue& dictionary);

    /// The default style of a scanned code of the given kind: its default button and text, and
    /// the kind itself.
    static Style forQrCodeType(QrCodeType type);

    /// Equal when every field is equal.
    bool operator==(const Style&) const = default;
};

} // namespace kestrel
