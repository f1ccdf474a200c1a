/// \file
/// The look of an action's icon, read from the "icon" dictionary of a style.
#pragma once

#include <kestrel/json.hpp>
#include <kestrel/styles/horizontal_position.hpp>
#include <kestrel/styles/vertical_position.hpp>

#include <optional>

namespace kestrel {

/// The look of an action's icon. Every field is absent when the style does not give it.
struct Icon {
    std::optional<double> size;                  ///< "size", a numeric text
    std::optional<bool> display;                 ///< "display": true only for the text "true"
    std::optional<HorizontalPosition> hposition; ///< "hposition"
    std::optional<VerticalPosition> vposition;   ///< "vposition"

    /// Builds an icon style from a dictionary with the keys "size" (a numeric text), "display",
    /// "hposition" and "vposition". Never fails: a missing key or a value that does not convert
    /// leaves its field absent ("display" is false for any text other than exactly "true"); other
    /// keys are ignored; a value that is not an object gives an icon with every field absent.
    static Icon fromDictionary(const JsonValue& dictionary);

    /// Equal when every field is equal.
    bool operator==(const Icon&) const = default;
};

} // namespace kestrel
