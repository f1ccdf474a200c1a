// The look of an action's icon, read from the "icon" dictionary of a style.
#pragma once

#include <kestrel/json.hpp>
#include <kestrel/styles/horizontal_position.hpp>
#include <kestrel/styles/vertical_position.hpp>

#include <optional>

namespace kestrel {

struct Icon {
    std::optional<double> size;
    std::optional<bool> display;
    std::optional<HorizontalPosition> hposition;
    std::optional<VerticalPosition> vposition;

    // Builds an icon style from a dictionary with the keys "size" (a numeric text), "display",
    // "hposition" and "vposition". Never fails: a missing key or a value that does not convert
    // leaves its field absent ("display" is false for any text other than exactly "true"); other
    // keys are ignored; a value that is not an object gives an icon with every field absent.
    static Icon fromDictionary(const JsonValue& dictionary);

    bool operator==(const Icon&) const = default;
};

} // namespace kestrel
