// Value conventions shared by the button, text and icon styles: texts that must convert as a
// whole, "display" as the exact text "true", colours containing "rgba", and raw-value lookups.
#pragma once

#include "json/lenient.hpp"

#include <kestrel/json.hpp>
#include <kestrel/raw_value.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace kestrel::styles {

// True for exactly "true", false for any other text, absent when the member is not a text.
std::optional<bool> readDisplay(const JsonValue& dictionary, std::string_view key);

// A numeric text converted as a whole, else a JSON number rounded to a float. A text that does
// not convert gives absent; it is not read as a number.
std::optional<float> readOpacity(const JsonValue& dictionary, std::string_view key);

// The colour again when it contains "rgba" (case-sensitive), else absent.
std::optional<std::string> rgbaColorOf(const std::optional<std::string>& color);

// The case whose raw value equals the member's text exactly; absent for anything else.
template <typename E>
std::optional<E> readRawValue(const JsonValue& dictionary, std::string_view key) {
    const auto text = json::readText(dictionary, key);
    if (!text) return std::nullopt;
    return fromRawValue<E>(*text);
}

// The case named by a single JSON string; DecodingError for another type or an unknown text.
template <typename E>
E decodeTextRawValue(const JsonValue& value, std::string_view typeName) {
    const auto text = json::asText(value);
    if (!text)
        throw DecodingError(std::string(typeName) + ": expected a string, found " +
                            value.type_name());
    const auto decoded = fromRawValue<E>(*text);
    if (!decoded)
        throw DecodingError(std::string(typeName) + ": not a raw value: \"" + *text + "\"");
    return *decoded;
}

} // namespace kestrel::styles
