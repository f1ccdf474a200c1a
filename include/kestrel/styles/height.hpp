/// \file
/// The height of an action's button: a fixed value, or an aspect ratio of width to height.
#pragma once

#include <kestrel/json.hpp>

#include <cstdint>
#include <optional>

namespace kestrel {

/// The height of an action's button: a fixed value, or an aspect ratio of width to height.
struct Height {
    std::optional<std::int64_t> value; ///< A fixed height.
    std::optional<float> ratioWidth;   ///< The width part of an aspect ratio.
    std::optional<float> ratioHeight;  ///< The height part of an aspect ratio.

    /// Decodes a JSON object with the optional members "value" (a whole number within the signed
    /// 64-bit range), "ratioWidth" and "ratioHeight" (numbers within the 32-bit float range,
    /// rounded to the nearest float). A missing or null member leaves its field absent. A value
    /// that is not an object, or a member of the wrong type or out of range, throws DecodingError.
    static Height decode(const JsonValue& value);

    /// Equal when every field is equal.
    bool operator==(const Height&) const = default;
};

} // namespace kestrel
