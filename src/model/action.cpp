#include "model/serialized_member.hpp"
#include "json/lenient.hpp"

#include <kestrel/model/action.hpp>

#include <string>
#include <utility>

namespace kestrel {

namespace {

constexpr std::string_view contentParseFailure = "error trying to convert action content";

} // namespace

Action Action::decode(const JsonValue& value) {
    if (!value.is_object())
        throw DecodingError(std::string("Action: expected an object, found ") + value.type_name());

    Action action;
    action.id = json::readText(value, "Id");
    action.name = json::readText(value, "Name");
    action.priority = json::readInt64(value, "Priority");
    action.order = json::readInt64(value, "Order");
    action.icon = json::readText(value, "Icon");
    action.backgroundImage = json::readText(value, "BackgroundImage");
    if (const auto type = json::readText(value, "Type"))
        action.type = fromRawValue<ActionType>(*type);

    // A style or content given as a list is accepted by the parse but gives no record.
    if (const auto style = model::readSerializedMember(value, "Style", model::styleParseFailure);
        style && style->is_object())
        action.style = Style::fromDictionary(*style);

    // Content needs the type read above.
    if (auto content = model::readSerializedMember(value, "Content", contentParseFailure);
        content && content->is_object() && action.type)
        action.content = Content::fromDictionary(std::move(*content), *action.type);

    action.isQrCode = false;
    return action;
}

} // namespace kestrel
