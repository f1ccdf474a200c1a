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
    EXPECT_EQ(Action::decode(JsonValue{{"Type", "URL"}}).type, ActionType::Url);
    EXPECT_EQ(Action::decode(JsonValue{{"Type", "VCARD"}}).type, ActionType::VCard);
    EXPECT_EQ(Action::decode(JsonValue{{"Type", "UNKNOWN"}}).type, ActionType::Unknown);
    // Anything else is absent, not Unknown.
    for (const JsonValue& type :
         {JsonValue("url"), JsonValue("Url"), JsonValue("VCard"), JsonValue(" URL"), JsonValue(""),
          JsonValue("WEB"), JsonValue(1), JsonValue(nullptr), JsonValue::array({"URL"})})
        EXPECT_FALSE(Action::decode(JsonValue{{"Type", type}}).type) << type.dump();
}

TEST(ActionDecoding, IntegersMustBeWholeNumbersInRange) {
    const auto decodeBoth = [](const std::string& number) {
        return Action::decode(JsonValue::parse(R"({"Name":"n","Priority":)" + number +
                                               R"(,"Order":)" + number + "}"));
    };
    const std::vector<std::pair<const char*, std::int64_t>> accepted{
        {"7", 7},
        {"-7", -7},
        {"0", 0},
        {"3.0", 3},
        {"1e3", 1000},
        {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN}};
    for (const auto& [number, expected] : accepted) {
        const auto action = decodeBoth(number);
        EXPECT_EQ(action.priority, expected) << number;
        EXPECT_EQ(action.order, expected) << number;
    }
    for (const char* number :
         {"9223372036854775808", "18446744073709551616", "-9223372036854775809", "1e300", "2.5",
          "\"3\"", "true", "null", "[3]", "{\"value\":3}"}) {
        const auto action = decodeBoth(number);
        EXPECT_FALSE(action.priority || action.order) << number;
        EXPECT_EQ(action.name, "n") << number;
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
    const auto content = Content::fromDictionary(
        JsonValue::parse(R"({"Text": "t", "IsEmbeddedWebView": true, "Url": "https://example.org",
            "Number": "1", "MapLongitude": 1.5, "Latitude": 2.5, "EmailAddress": "a@b"})"),
        ActionType::Url);
    EXPECT_FALSE(content.text() || content.vcalendar() || content.isEmbeddedWebView() ||
                 content.isAnonymousURL() || content.url() || content.urlContentType() ||
                 content.vcard() || content.shareContent() || content.shareUrl() ||
                 content.emailContent() || content.emailAddress() || content.emailSubject() ||
                 content.smsContent() || content.smsNumber() || content.phoneNumber() ||
                 content.mapLongitude() || content.mapLatitude() || content.mapSearchAddress());
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
