/// \file
/// Random identifiers in the canonical text form.
#pragma once

#include <string>

namespace kestrel::platform {

/// A new random (version 4) identifier from the system's cryptographic random source, as 36
/// characters: groups of 8, 4, 4, 4 and 12 upper-case hexadecimal digits joined by '-'.
std::string randomUuidString();

} // namespace kestrel::platform
