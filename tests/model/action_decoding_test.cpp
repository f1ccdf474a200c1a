#include <kestrel/model.hpp>

#include "support/capture_stdout.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
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
    // The typed views of the content stay absent.
    EXPECT_FALSE(action.content->url() || action.content->isEmbeddedWebView());
    EXPECT_FALSE(action.isQrCode);
}

TEST(ActionDecoding, TypeIsAnExactUpperCaseRawValue) {
    for (const auto& [type, raw] : std::vector<std::pair<ActionType, const char*>>{
             {ActionType::VCard, "VCARD"}, {ActionType::Unknown, "UNKNOWN"}})
        EXPECT_EQ(Action::decode(JsonValue{{"Type", raw}}).type, type) << raw;
    // Anything else is absent, not Unknown.
    for (const JsonValue& type : {JsonValue("url"), JsonValue("VCard"), JsonValue("Unknown"),
                                  JsonValue(1), JsonValue::array({"URL"})})
        EXPECT_FALSE(Action::decode(JsonValue{{"Type", type}}).type) << type.dump();
}

TEST(ActionDecoding, NumbersAndTextsAreNotInterchangeable) {
    const auto decodeBoth = [](const std::string& number) {
        return Action::decode(JsonValue::parse(R"({"Name":"n","Priority":)" + number +
                                               R"(,"Order":)" + number + "}"));
    };
    // Which numbers are whole is the JSON reader's rule, tested with it.
    const auto whole = decodeBoth("1e3");
    EXPECT_EQ(whole.priority, 1000);
    EXPECT_EQ(whole.order, 1000);
    for (const char* number : {"2.5", "\"3\""}) {
        const auto action = decodeBoth(number);
        EXPECT_FALSE(action.priority || action.order) << number;
        EXPECT_EQ(action.name, "n") << number;
    }
    for (const char* json : {"5", "[\"a\"]"}) {
        const auto action = Action::decode(
            JsonValue::parse(std::string(R"({"Type":"SMS","Id":)") + json + R"(,"Name":)" + json +
                             R"(,"Icon":)" + json + R"(,"BackgroundImage":)" + json + "}"));
        EXPECT_FALSE(action.id || action.name || action.icon || action.backgroundImage) << json;
        EXPECT_EQ(action.type, ActionType::Sms);
    }
    // Keys match case-sensitively.
    EXPECT_EQ(Action::decode(JsonValue{{"id", "x"}, {"NAME", "y"}, {"type", "URL"}}), Action{});
}

TEST(ActionDecoding, StyleAndContentThatAreNotSerializedObjectsAreIgnoredSilently) {
    // Nested objects, other kinds, empty texts and serialized lists give no record.
    for (const JsonValue& v : {JsonValue{{"model", "flat"}}, JsonValue(nullptr), JsonValue(1),
                               JsonValue(""), JsonValue(R"([{"model":"flat"}])")}) {
        Action action;
        EXPECT_EQ(decodePrinting(JsonValue{{"Type", "URL"}, {"Style", v}, {"Content", v}}, action),
                  "")
            << v.dump();
        EXPECT_FALSE(action.style) << v.dump();
        EXPECT_FALSE(action.content) << v.dump();
        EXPECT_EQ(action.type, ActionType::Url);
    }
}

TEST(ActionDecoding, InvalidTextPrintsOnceAndKeepsOtherFields) {
    const std::string style = R"({"model":"m"})";
    const std::string content = R"({"Text":"t"})";
    const std::string both = std::string(styleLine) + contentLine;
    // Which texts are broken (deep nesting, invalid UTF-8) is the JSON reader's rule.
    struct Case {
        std::string style, content, printed;
    };
    for (const auto& c : std::vector<Case>{{"not json", content, styleLine},
                                           {"42", content, styleLine},
                                           {style, "{\"Text\":", contentLine},
                                           {"x", "y", both}}) {
        Action action;
        const auto printed = decodePrinting(
            JsonValue{{"Id", "i"}, {"Type", "TEXT"}, {"Style", c.style}, {"Content", c.content}},
            action);
        EXPECT_EQ(printed, c.printed) << c.style << " / " << c.content;
        EXPECT_EQ(action.id, "i");
        EXPECT_EQ(action.style.has_value(), c.style == style);
        EXPECT_EQ(action.content.has_value(), c.content == content);
        if (action.style) {
            EXPECT_EQ(action.style->model, "m");
        }
        if (action.content) {
            EXPECT_EQ(action.content->dictionary, JsonValue::parse(content));
        }
    }
}

TEST(ActionDecoding, ContentNeedsARecognisedType) {
    const std::string content = R"({"Url":"https://example.org"})";
    Action action;
    EXPECT_EQ(decodePrinting(JsonValue{{"Type", "url"}, {"Content", content}}, action), "");
    EXPECT_FALSE(action.content);
    EXPECT_FALSE(Action::decode(JsonValue{{"Content", content}}).content);
    // The text is still parsed without a type, so a broken one is still reported.
    EXPECT_EQ(decodePrinting(JsonValue{{"Content", "oops"}}, action), contentLine);

    const auto unknown = Action::decode(JsonValue{{"Type", "UNKNOWN"}, {"Content", content}});
    ASSERT_TRUE(unknown.content);
    EXPECT_EQ(unknown.content->type, ActionType::Unknown);
}

TEST(ActionDecoding, ValueThatIsNotAnObjectIsADecodingError) {
    for (const char* doc : {"\"action\"", "null", "[{\"Id\":\"a\"}]"})
        EXPECT_THROW(Action::decode(JsonValue::parse(doc)), DecodingError) << doc;
}
