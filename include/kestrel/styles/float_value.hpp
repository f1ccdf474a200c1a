/// \file
/// Conversion of a style or settings text to a 32-bit float.
#pragma once

#include <optional>
#include <string>

namespace kestrel {

/// Converts a whole text to a float: an optional sign, digits with an optional fraction ("." as
/// the decimal separator, whatever the process locale) and an optional exponent. Absent for an
/// absent text, an empty text, leading or trailing white space, anything left over after the
/// number, "inf"/"nan"/hexadecimal forms, and values beyond the float range.
std::optional<float> floatValue(const std::optional<std::string>& text);

} // namespace kestrel
