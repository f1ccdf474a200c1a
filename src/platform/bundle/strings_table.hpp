// Reading of a bundle's string tables ("Localizable.strings"): lines of the form
// "key" = "text"; with C-style comments and backslash escapes.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel::platform {

using StringsTable = std::map<std::string, std::string, std::less<>>;

// Parses one table. The bytes are UTF-8 (an optional byte order mark is skipped) or UTF-16 with a
// byte order mark. Keys and texts are quoted strings or unquoted words of letters, digits and
// _ $ + / : . -; an entry is `key = text;` or `key;` (the text is then the key). Escapes in quoted
// strings: \n \t \r \a \b \f \v \" \' \\, \Uhhhh or \uhhhh (one to four hex digits, UTF-16 pairs
// joined), \ooo (one to three octal digits, a Latin-1 character); a backslash before any other
// character stands for that character. A later entry with the same key replaces an earlier one.
//
// The whole table is rejected (absent) on any fault: invalid encoding, an unterminated string or
// comment, a missing '=' or ';', a lone UTF-16 surrogate. A translator's slip then falls back to
// another language as a whole instead of mixing languages from half a table.
std::optional<StringsTable> parseStringsTable(std::string_view bytes);

} // namespace kestrel::platform
