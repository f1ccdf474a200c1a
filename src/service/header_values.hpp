// Checks and clean-up of the texts the service client puts into request headers and addresses.
#pragma once

#include <string>
#include <string_view>

namespace kestrel::service {

// False when the value holds CR, LF or NUL, which would end or split the header line.
bool isSafeHeaderValue(std::string_view value);

// The value without its CR, LF and NUL characters.
std::string withoutLineBreaks(std::string_view value);

// The text with every byte outside the unreserved characters of a URI (letters, digits, "-", ".",
// "_", "~") written as %XX, for use as one query value.
std::string percentEncoded(std::string_view text);

} // namespace kestrel::service
