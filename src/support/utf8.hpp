// UTF-8 checks and encoding shared by the text readers of the library.
#pragma once

#include <string>
#include <string_view>

namespace kestrel::support {

// True when bytes are well-formed UTF-8: shortest forms only, no surrogate code points, nothing
// beyond U+10FFFF.
bool isValidUtf8(std::string_view bytes);

// Appends the UTF-8 form of a Unicode scalar value. Returns false, and appends nothing, for a
// surrogate code point or a value beyond U+10FFFF.
bool appendUtf8(std::string& out, char32_t codePoint);

// The bytes as well-formed UTF-8: valid text is kept byte for byte, and each ill-formed sequence
// (its lead byte and the continuation bytes that fitted it) becomes one U+FFFD.
std::string withReplacementCharacters(std::string_view bytes);

} // namespace kestrel::support
