/// \file
/// The kind of an action: a web address, a contact card, a phone number and so on.
#pragma once

#include <kestrel/raw_value.hpp>

#include <array>
#include <string_view>
#include <utility>

namespace kestrel {

/// The kind of an action; raw values are the case names in upper case ("URL", "VCARD"...).
/// fromRawValue<ActionType> matches the upper-case raw values exactly; any other text, lower-case
/// forms included, gives absent (never Unknown, which is only the value of "UNKNOWN").
enum class ActionType { Calendar, Url, VCard, Share, Email, Data, Sms, Map, Phone, Text, Unknown };

/// The raw value of each case of ActionType, for rawValue and fromRawValue.
template <>
struct EnumRawValues<ActionType> {
    /// Every case with its raw value, in declaration order.
    static constexpr std::array values{
        std::pair{ActionType::Calendar, std::string_view("CALENDAR")},
        std::pair{ActionType::Url, std::string_view("URL")},
        std::pair{ActionType::VCard, std::string_view("VCARD")},
        std::pair{ActionType::Share, std::string_view("SHARE")},
        std::pair{ActionType::Email, std::string_view("EMAIL")},
        std::pair{ActionType::Data, std::string_view("DATA")},
        std::pair{ActionType::Sms, std::string_view("SMS")},
        std::pair{ActionType::Map, std::string_view("MAP")},
        std::pair{ActionType::Phone, std::string_view("PHONE")},
        std::pair{ActionType::Text, std::string_view("TEXT")},
        std::pair{ActionType::Unknown, std::string_view("UNKNOWN")}};
};

} // namespace kestrel
