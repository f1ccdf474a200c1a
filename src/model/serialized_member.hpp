// Members that carry a JSON document inside a string ("Style", "Content", "TitleStyle").
#pragma once

#include <kestrel/json.hpp>

#include <optional>
#include <string_view>

namespace kestrel::model {

// The document in the member's text. Absent when the member is not a non-empty string (nothing
// printed) or when its text is not one JSON object or list (failureLine printed once).
std::optional<JsonValue> readSerializedMember(const JsonValue& object, std::string_view key,
                                              std::string_view failureLine);

// The line printed for a "Style" or "TitleStyle" text that does not parse.
inline constexpr std::string_view styleParseFailure = "error trying to convert action style";

} // namespace kestrel::model
