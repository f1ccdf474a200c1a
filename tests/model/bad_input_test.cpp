// Inputs of every shape go through the decoders without crashing, hanging or leaking, and only
// the malformed member is lost.
#include <kestrel/model.hpp>

#include "support/capture_stdout.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace kestrel;
using kestrel::testing::captureStdout;

namespace {

constexpr const char* styleLine = "error trying to convert action style\n";
constexpr const char* contentLine = "error trying to convert action content\n";

JsonValue deeplyNested(std::size_t depth) {
    JsonValue value = JsonValue::object();
    for (std::size_t i = 0; i < depth; ++i) {
        JsonValue outer = JsonValue::object();
        outer["button"] = std::move(value);
        value = std::move(outer);
    }
    return value;
}

const std::vector<JsonValue>& everyJsonKind() {
    static const std::vector<JsonValue> kinds{nullptr,
                                              true,
                                              false,
                                              0,
                                              -1,
                                              9223372036854775807LL,
                                              18446744073709551615ULL,
                                              -1.5,
                                              1e308,
                                              "",
                                              "text",
                                              "{}",
                                              "[]",
                                              std::string("\xff\xfe", 2),
                                              JsonValue::array(),
                                              JsonValue::array({1, "a", nullptr}),
                                              JsonValue::object(),
                                              JsonValue{{"model", "m"}}};
    return kinds;
}

// For failure messages: some of the values hold invalid UTF-8, which a plain dump refuses.
std::string show(const JsonValue& value) {
    return value.dump(-1, ' ', false, JsonValue::error_handler_t::replace);
}

} // namespace

TEST(ActionBadInput, DeeplyNestedStyleAndContentTextsAreParseFailures) {
    const std::string deepList = std::string(100000, '[') + std::string(100000, ']');
    std::string deepObject;
    for (int i = 0; i < 100000; ++i) deepObject += "{\"a\":";
    deepObject += '1';
    deepObject.append(100000, '}');
    Action action;
    const auto printed = captureStdout([&] {
        action = Action::decode(JsonValue{
            {"Id", "keep"}, {"Type", "URL"}, {"Style", deepList}, {"Content", deepObject}});
    });
    EXPECT_EQ(printed, std::string(styleLine) + contentLine);
    EXPECT_FALSE(action.style);
    EXPECT_FALSE(action.content);
    EXPECT_EQ(action.id, "keep");
}

TEST(ActionBadInput, DeeplyNestedValuesThatAreNotReadAreLeftAlone) {
    // Built by moving: copying or comparing a value this deep would itself recurse 100000 times.
    JsonValue action = JsonValue::object();
    for (const char* key : {"Style", "Content", "Extra"}) action[key] = deeplyNested(100000);
    action["Name"] = "n";
    const auto decoded = Action::decode(action);
    EXPECT_EQ(decoded.name, "n");
    EXPECT_FALSE(decoded.style);
    EXPECT_FALSE(decoded.content);
    // A style dictionary nested far below "button" is read one level deep only.
    const auto style = Style::fromDictionary(action["Extra"]);
    ASSERT_TRUE(style.button);
    EXPECT_EQ(*style.button, Button{});
}

TEST(ActionBadInput, InvalidUtf8InsideStyleOrContentIsAParseFailure) {
    const std::vector<std::string> texts{
        "{\"model\":\"\xff\"}",                 // stray byte inside a string
        "{\"\xc3\x28\":1}",                     // broken two-byte sequence in a key
        "{\"model\":\"\xed\xa0\x80\"}",         // encoded surrogate
        "{\"model\":\"\xc0\xaf\"}",             // overlong encoding
        std::string("{\"model\":\"a\0\"}", 14), // raw NUL inside a string
        "{\"model\":\"m\"}\xff",                // trailing garbage after the document
    };
    for (const auto& text : texts) {
        Action action;
        const auto printed = captureStdout([&] {
            action =
                Action::decode(JsonValue{{"Type", "TEXT"}, {"Style", text}, {"Content", text}});
        });
        EXPECT_EQ(printed, std::string(styleLine) + contentLine) << ::testing::PrintToString(text);
        EXPECT_FALSE(action.style);
        EXPECT_FALSE(action.content);
        EXPECT_EQ(action.type, ActionType::Text);
    }
}

TEST(ActionBadInput, EnormousTextsAreKeptOrRefusedWhole) {
    const std::string huge(16u << 20, 'n');
    std::string hugeModel = R"({"model":")";
    hugeModel.append(huge).append(R"(","button":{"radius":")").append(1u << 20, '9');
    hugeModel.append(R"(","opacity":"0.)").append(1u << 20, '0').append(R"(5"}})");
    Action action;
    const auto printed = captureStdout([&] {
        action = Action::decode(JsonValue{{"Name", huge},
                                          {"Style", hugeModel},
                                          {"Content", std::string(4u << 20, ' ')},
                                          {"Type", "URL"}});
    });
    EXPECT_EQ(printed, contentLine); // only white space is not a document
    EXPECT_EQ(action.name, huge);
    ASSERT_TRUE(action.style && action.style->button);
    EXPECT_EQ(action.style->model, huge);
    EXPECT_FALSE(action.style->button->radius);     // far beyond the 64-bit range
    EXPECT_EQ(action.style->button->opacity, 0.0f); // a tiny fraction rounds to zero
}

TEST(ActionBadInput, EveryJsonKindUnderEveryKeyLeavesOtherFieldsIntact) {
    const std::vector<const char*> keys{"Id",   "Name", "Priority", "Order",          "Style",
                                        "Type", "Icon", "Content",  "BackgroundImage"};
    for (const char* key : keys) {
        for (const auto& value : everyJsonKind()) {
            JsonValue object{{"Id", "keep"}, {"Order", 5}};
            object[key] = value;
            Action action;
            captureStdout([&] { action = Action::decode(object); });
            if (std::string(key) != "Id") {
                EXPECT_EQ(action.id, "keep") << key << show(value);
            }
            if (std::string(key) != "Order") {
                EXPECT_EQ(action.order, 5) << key << show(value);
            }
            EXPECT_FALSE(action.isQrCode);
        }
    }
}

TEST(StyleBadInput, EveryJsonKindUnderEveryStyleKeyLeavesOtherFieldsIntact) {
    const std::vector<std::pair<const char*, std::vector<const char*>>> levels{
        {"button",
         {"background-color", "opacity", "display", "height", "radius", "image-size",
          "image-position"}},
        {"icon", {"size", "display", "hposition", "vposition"}},
        {"text",
         {"color", "opacity", "font-style", "font-weight", "font-size", "display", "hposition",
          "vposition", "background-color"}}};
    for (const auto& [level, keys] : levels) {
        for (const char* key : keys) {
            for (const auto& value : everyJsonKind()) {
                JsonValue style{{"model", "m"}, {level, {{"display", "true"}}}};
                style[level][key] = value;
                const auto parsed = Style::fromDictionary(style);
                EXPECT_EQ(parsed.model, "m");
                if (std::string(key) == "display") continue;
                const std::string where = std::string(level) + "." + key + " = " + show(value);
                const auto display = parsed.button ? parsed.button->display
                                     : parsed.icon ? parsed.icon->display
                                     : parsed.text ? parsed.text->display
                                                   : std::nullopt;
                EXPECT_EQ(display, true) << where;
            }
        }
    }
}
