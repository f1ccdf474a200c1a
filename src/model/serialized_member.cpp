#include "model/serialized_member.hpp"

#include "support/diagnostics.hpp"
#include "json/lenient.hpp"

#include <string>

namespace kestrel::model {

std::optional<JsonValue> readSerializedMember(const JsonValue& object, std::string_view key,
                                              std::string_view failureLine) {
    const JsonValue* member = json::member(object, key);
    if (!member || !member->is_string()) return std::nullopt;
    const auto& text = member->get_ref<const std::string&>();
    if (text.empty()) return std::nullopt;
    auto parsed = json::parseSerialized(text);
    if (!parsed) support::printLine(failureLine);
    return parsed;
}

} // namespace kestrel::model
