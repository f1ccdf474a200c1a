#include <kestrel/model.hpp>

#include "support/capture_stdout.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace kestrel;
using kestrel::testing::captureStdout;

namespace {

constexpr const char* styleLine = "error trying to convert action style\n";
constexpr const char* contentLine = "error trying to convert action content\n";

// Decodes and returns what was printed meanwhile.
std::string decodePrinting(const JsonValue& value, Action& out) {
    return captureStdout([&] { out = Action::decode(value); });
}

} // namespace

TEST(ActionDecoding, EmptyObjectGivesEveryFieldAbsent) {
    Action action;
    EXPECT_EQ(decodePrinting(JsonValue::object(), action), "");
    EXPECT_EQ(action, Action{});
    EXPECT_FALSE(action.isQrCode);
}

TEST(ActionDecoding, CompleteActionObject) {
    const auto value = JsonValue::parse(R"j({
        "Id": "a-17", "Name": "Visit", "Priority": 3, "Order": -2, "Icon": "globe.png",
        "BackgroundImage": "bg.jpg", "Type": "URL", "Extra": {"ignored": true},
        "Style": "{\"model\":\"flat\",\"button\":{\"background-color\":\"rgba(0,0,0,1)\"}}",
        "Content": "{\"Url\":\"https://example.org\",\"IsEmbeddedWebView\":false,\"N\":[1,{}]}"
    })j");
    Action action;
    EXPECT_EQ(decodePrinting(value, action), "");
    EXPECT_EQ(action.id, "a-17");
    EXPECT_EQ(action.name, "Visit");
    EXPECT_EQ(action.priority, 3);
    EXPECT_EQ(action.order, -2);
    EXPECT_EQ(action.icon, "globe.png");
    EXPECT_EQ(action.backgroundImage, "bg.jpg");
    EXPECT_EQ(action.type, ActionType::Url);
    ASSERT_TRUE(action.style);
    EXPECT_EQ(action.style->model, "flat");
    ASSERT_TRUE(action.style->button);
    EXPECT_EQ(action.style->button->rgbaColor, "rgba(0,0,0,1)");
    ASSERT_TRUE(action.content);
    EXPECT_EQ(action.content->type, ActionType::Url);
    EXPECT_EQ(action.content->dictionary,
              JsonValue::parse(R"({"Url":"https://example.org","IsEmbeddedWebView":false,
                                   "N":[1,{}]})"));
    EXPECT_FALSE(action.isQrCode);
    EXPECT_EQ(Action::decode(value), action);
}

TEST(ActionDecoding, TypeIsAnExactUpperCaseRawValue) {
    struct Case {
        JsonValue type;
        std::optional<ActionType> expected;
    };
    const std::vector<Case> cases{
        {"URL", ActionType::Url},
        {"VCARD", ActionType::VCard},
        {"CALENDAR", ActionType::Calendar},
        {"SMS", ActionType::Sms},
        {"UNKNOWN", ActionType::Unknown},
        {"url", std::nullopt},
        {"Url", std::nullopt},
        {"VCard", std::nullopt},
        {" URL", std::nullopt},
        {"", std::nullopt},
        {"WEB", std::nullopt},
        {1, std::nullopt},
        {nullptr, std::nullopt},
        {JsonValue::array({"URL"}), std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Action::decode(JsonValue{{"Type", c.type}}).type, c.expected) << c.type.dump();
}

TEST(ActionDecoding, IntegersMustBeWholeNumbersInRange) {
    struct Case {
        const char* json;
        std::optional<std::int64_t> expected;
    };
    const std::vector<Case> cases{
        {"7", 7},
        {"-7", -7},
        {"0", 0},
        {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},
        {"9223372036854775808", std::nullopt},
        {"18446744073709551616", std::nullopt},
        {"-9223372036854775809", std::nullopt},
        {"3.0", 3},
        {"1e3", 1000},
        {"1e300", std::nullopt},
        {"2.5", std::nullopt},
        {"\"3\"", std::nullopt},
        {"true", std::nullopt},
        {"null", std::nullopt},
        {"[3]", std::nullopt},
        {"{\"value\":3}", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto value = JsonValue::parse(std::string(R"({"Name":"n","Priority":)") + c.json +
                                            R"(,"Order":)" + c.json + "}");
        const auto action = Action::decode(value);
        EXPECT_EQ(action.priority, c.expected) << c.json;
        EXPECT_EQ(action.order, c.expected) << c.json;
        EXPECT_EQ(action.name, "n") << c.json;
    }
}

TEST(ActionDecoding, TextMembersRefuseOtherJsonTypes) {
    for (const char* json : {"5", "true", "null", "[\"a\"]", "{\"a\":\"b\"}", "1.5"}) {
        const auto value =
            JsonValue::parse(std::string(R"({"Type":"SMS","Id":)") + json + R"(,"Name":)" + json +
                             R"(,"Icon":)" + json + R"(,"BackgroundImage":)" + json + "}");
        const auto action = Action::decode(value);
        EXPECT_FALSE(action.id || action.name || action.icon || action.backgroundImage) << json;
        EXPECT_EQ(action.type, ActionType::Sms);
    }
    // Keys match case-sensitively.
    const auto action = Action::decode(JsonValue{{"id", "x"}, {"NAME", "y"}, {"type", "URL"}});
    EXPECT_EQ(action, Action{});
}

TEST(ActionDecoding, StyleGivenAsNestedObjectIsIgnored) {
    Action action;
    const auto printed = decodePrinting(
        JsonValue{{"Type", "URL"}, {"Style", {{"model", "flat"}}}, {"Content", {{"Url", "u"}}}},
        action);
    EXPECT_EQ(printed, "");
    EXPECT_FALSE(action.style);
    EXPECT_FALSE(action.content);
    EXPECT_EQ(action.type, ActionType::Url);
}

TEST(ActionDecoding, StyleAndContentThatAreNotTextsAreIgnoredSilently) {
    for (const JsonValue& v : {JsonValue(nullptr), JsonValue(1), JsonValue(false),
                               JsonValue::array({"{}"}), JsonValue("")}) {
        Action action;
        EXPECT_EQ(decodePrinting(JsonValue{{"Type", "URL"}, {"Style", v}, {"Content", v}}, action),
                  "")
            << v.dump();
        EXPECT_FALSE(action.style) << v.dump();
        EXPECT_FALSE(action.content) << v.dump();
    }
}

TEST(ActionDecoding, SerializedListGivesNoRecordAndPrintsNothing) {
    Action action;
    EXPECT_EQ(decodePrinting(JsonValue{{"Type", "URL"},
                                       {"Style", R"([{"model":"flat"}])"},
                                       {"Content", R"([{"Url":"u"}])"}},
                             action),
              "");
    EXPECT_FALSE(action.style);
    EXPECT_FALSE(action.content);
}

TEST(ActionDecoding, InvalidStyleTextPrintsOnceAndKeepsOtherFields) {
    for (const char* text : {"not json", "{", "\"quoted\"", "42", "true", "null", " ",
                             "{\"a\":1} trailing", "{'model':'flat'}"}) {
        Action action;
        const auto printed = decodePrinting(
            JsonValue{
                {"Id", "i"}, {"Type", "TEXT"}, {"Style", text}, {"Content", R"({"Text":"t"})"}},
            action);
        EXPECT_EQ(printed, styleLine) << text;
        EXPECT_FALSE(action.style) << text;
        EXPECT_EQ(action.id, "i");
        ASSERT_TRUE(action.content) << text;
        EXPECT_EQ(action.content->dictionary, (JsonValue{{"Text", "t"}}));
    }
}

TEST(ActionDecoding, InvalidContentTextPrintsOnceAndKeepsOtherFields) {
    Action action;
    const auto printed = decodePrinting(
        JsonValue{{"Type", "URL"}, {"Style", R"({"model":"m"})"}, {"Content", "{\"Url\":"}},
        action);
    EXPECT_EQ(printed, contentLine);
    EXPECT_FALSE(action.content);
    ASSERT_TRUE(action.style);
    EXPECT_EQ(action.style->model, "m");
}

TEST(ActionDecoding, BothTextsInvalidPrintTwoLinesStyleFirst) {
    Action action;
    EXPECT_EQ(decodePrinting(JsonValue{{"Type", "URL"}, {"Style", "x"}, {"Content", "y"}}, action),
              std::string(styleLine) + contentLine);
}

TEST(ActionDecoding, ContentNeedsARecognisedType) {
    const std::string content = R"({"Url":"https://example.org"})";
    for (const JsonValue& type : {JsonValue("url"), JsonValue("LINK"), JsonValue(1)}) {
        Action action;
        EXPECT_EQ(decodePrinting(JsonValue{{"Type", type}, {"Content", content}}, action), "");
        EXPECT_FALSE(action.content) << type.dump();
    }
    EXPECT_FALSE(Action::decode(JsonValue{{"Content", content}}).content);
    // The text is still parsed without a type, so a broken one is still reported.
    Action action;
    EXPECT_EQ(decodePrinting(JsonValue{{"Content", "oops"}}, action), contentLine);

    const auto unknown = Action::decode(JsonValue{{"Type", "UNKNOWN"}, {"Content", content}});
    ASSERT_TRUE(unknown.content);
    EXPECT_EQ(unknown.content->type, ActionType::Unknown);
}

TEST(ActionDecoding, ValueThatIsNotAnObjectIsADecodingError) {
    for (const char* doc : {"\"action\"", "3", "null", "true", "[]", "[{\"Id\":\"a\"}]"})
        EXPECT_THROW(Action::decode(JsonValue::parse(doc)), DecodingError) << doc;
}

TEST(ContentAccessors, AlwaysAbsentWhateverTheDictionaryHolds) {
    const auto content = Content::fromDictionary(JsonValue::parse(R"({
        "Text": "t", "VCalendar": "v", "IsEmbeddedWebView": true, "IsAnonymousURL": true,
        "Url": "https://example.org", "ContentType": "text/html", "VCard": "BEGIN:VCARD",
        "ShareContent": "s", "ShareUrl": "u", "EmailContent": "c", "EmailAddress": "a@b",
        "EmailSubject": "s", "SmsContent": "c", "SmsNumber": "1", "Number": "1",
        "PhoneNumber": "1", "MapLongitude": 1.5, "MapLatitude": 2.5, "Longitude": 1.5,
        "Latitude": 2.5, "MapSearchAddress": "x"})"),
                                                 ActionType::Url);
    EXPECT_FALSE(content.text());
    EXPECT_FALSE(content.vcalendar());
    EXPECT_FALSE(content.isEmbeddedWebView());
    EXPECT_FALSE(content.isAnonymousURL());
    EXPECT_FALSE(content.url());
    EXPECT_FALSE(content.urlContentType());
    EXPECT_FALSE(content.vcard());
    EXPECT_FALSE(content.shareContent());
    EXPECT_FALSE(content.shareUrl());
    EXPECT_FALSE(content.emailContent());
    EXPECT_FALSE(content.emailAddress());
    EXPECT_FALSE(content.emailSubject());
    EXPECT_FALSE(content.smsContent());
    EXPECT_FALSE(content.smsNumber());
    EXPECT_FALSE(content.phoneNumber());
    EXPECT_FALSE(content.mapLongitude());
    EXPECT_FALSE(content.mapLatitude());
    EXPECT_FALSE(content.mapSearchAddress());
    ASSERT_TRUE(content.dictionary);
    EXPECT_EQ(content.dictionary->at("Url"), "https://example.org");
}

TEST(ActionTypeRawValues, ExactCaseSensitiveMatchBothWays) {
    const std::vector<std::pair<ActionType, const char*>> table{
        {ActionType::Calendar, "CALENDAR"}, {ActionType::Url, "URL"},
        {ActionType::VCard, "VCARD"},       {ActionType::Share, "SHARE"},
        {ActionType::Email, "EMAIL"},       {ActionType::Data, "DATA"},
        {ActionType::Sms, "SMS"},           {ActionType::Map, "MAP"},
        {ActionType::Phone, "PHONE"},       {ActionType::Text, "TEXT"},
        {ActionType::Unknown, "UNKNOWN"}};
    for (const auto& [type, raw] : table) {
        EXPECT_EQ(rawValue(type), raw);
        EXPECT_EQ(fromRawValue<ActionType>(raw), type) << raw;
        std::string lower = raw;
        for (char& c : lower) c = static_cast<char>(c - 'A' + 'a');
        EXPECT_FALSE(fromRawValue<ActionType>(lower)) << lower;
    }
    EXPECT_FALSE(fromRawValue<ActionType>(""));
    EXPECT_FALSE(fromRawValue<ActionType>("Unknown"));
}
