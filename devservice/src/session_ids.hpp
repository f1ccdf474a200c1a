// Identifiers that a client must not be able to guess from others it has seen: 122 bits from the
// kernel's cryptographic random source, written as an upper-case version 4 UUID.
#pragma once

#include <string>

namespace kestrel::devservice {

// A new identifier. Throws std::runtime_error when the kernel gives no random bytes.
std::string unguessableId();

} // namespace kestrel::devservice
