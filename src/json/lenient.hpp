// The one lenient reading layer shared by every decoder of the library. A member read gives
// absent for a missing key, a null value or a value of another JSON type; nothing here throws.
#pragma once

#include <kestrel/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel::json {

// Deepest nesting of objects and lists that parseDocument and parseSerialized accept; deeper
// documents are parse failures, so that no later copy, comparison or print of a parsed value can
// exhaust the stack.
inline constexpr std::size_t maxNestingDepth = 512;

// Reads of one value.
std::optional<std::string> asText(const JsonValue& value);
// Whole numbers within the signed 64-bit range, also when written with a fraction or exponent
// (3.0, 1e3); fractional numbers, strings and booleans give absent. A number held as a float of
// exactly -2^63 is refused, since an out-of-range integer text rounds to it when parsed.
std::optional<std::int64_t> asInt64(const JsonValue& value);
std::optional<bool> asBool(const JsonValue& value);
// Any JSON number within the 32-bit range, rounded to the nearest float.
std::optional<float> asFloat(const JsonValue& value);
std::optional<double> asDouble(const JsonValue& value);

// Reads of one member of an object. A value that is not an object has no members.
const JsonValue* member(const JsonValue& object, std::string_view key);
std::optional<std::string> readText(const JsonValue& object, std::string_view key);
std::optional<std::int64_t> readInt64(const JsonValue& object, std::string_view key);
std::optional<bool> readBool(const JsonValue& object, std::string_view key);
std::optional<float> readFloat(const JsonValue& object, std::string_view key);
std::optional<double> readDouble(const JsonValue& object, std::string_view key);
// The member when it is a JSON object, else null.
const JsonValue* readObject(const JsonValue& object, std::string_view key);

// Whole-text number conversions, independent of the process locale. Integers: an optional '+' or
// '-' and one or more ASCII digits, within the signed 64-bit range. Floats: an optional sign,
// digits with an optional fraction, an optional exponent; a value beyond the type's range gives
// absent, one too small rounds towards zero. Anything else (white space, trailing characters,
// an empty text, "inf", hexadecimal) gives absent.
std::optional<std::int64_t> parseInt64Text(std::string_view text);
std::optional<float> parseFloatText(std::string_view text);
std::optional<double> parseDoubleText(std::string_view text);

// The number at the start of a text, as the settings store reads numeric text: leading white
// space skipped, the longest number prefix taken (C locale), 0 when there is none.
double parseLeadingDouble(const std::string& text);

// Parses UTF-8 bytes as one JSON document of any top-level type. Absent for invalid JSON, invalid
// UTF-8, trailing content or nesting deeper than maxNestingDepth. A number beyond the range of a
// double (1e400) reads as null: a bad member, not a bad document.
std::optional<JsonValue> parseDocument(std::string_view utf8);
// Like parseDocument, keeping only the first maximumElements elements of every list: the others
// are read, checked and dropped without being built.
std::optional<JsonValue> parseReply(std::string_view utf8, std::size_t maximumElements);

// The "serialized JSON text" of an action's "Style" and "Content" and a page's "TitleStyle": one
// JSON document whose top level is an object or a list. Any other top level is a parse failure.
std::optional<JsonValue> parseSerialized(std::string_view utf8);

} // namespace kestrel::json
