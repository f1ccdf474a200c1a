#include "json/lenient.hpp"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

using kestrel::JsonValue;
namespace json = kestrel::json;

namespace {

const JsonValue sample = JsonValue::parse(R"({
    "text": "hello", "empty": "", "int": 42, "negative": -7, "whole": 3.0, "fraction": 2.5,
    "big": 9223372036854775807, "tooBig": 9223372036854775808, "huge": 1e300,
    "numericText": "12", "bool": true, "null": null, "object": {"a": 1}, "list": [1, 2]
})");

} // namespace

TEST(LenientMemberReads, TextOnlyFromStrings) {
    EXPECT_EQ(json::readText(sample, "text"), "hello");
    EXPECT_EQ(json::readText(sample, "empty"), "");
    for (const char* key : {"int", "bool", "null", "object", "list", "missing"})
        EXPECT_FALSE(json::readText(sample, key)) << key;
}

TEST(LenientMemberReads, IntegersAreWholeNumbersInSigned64BitRange) {
    EXPECT_EQ(json::readInt64(sample, "int"), 42);
    EXPECT_EQ(json::readInt64(sample, "negative"), -7);
    EXPECT_EQ(json::readInt64(sample, "whole"), 3);
    EXPECT_EQ(json::readInt64(sample, "big"), std::numeric_limits<std::int64_t>::max());
    for (const char* key : {"fraction", "tooBig", "huge", "numericText", "bool", "null", "missing"})
        EXPECT_FALSE(json::readInt64(sample, key)) << key;
    EXPECT_EQ(json::asInt64(JsonValue::parse("-9223372036854775808")),
              std::numeric_limits<std::int64_t>::min());
    EXPECT_FALSE(json::asInt64(JsonValue(-9223372036854775808.0 * 2)));
    // Integer texts just beyond either end of the range are parsed as floats; neither may come
    // back as the nearest in-range value.
    for (const char* text : {"-9223372036854775809", "-9223372036854776000", "9223372036854775808",
                             "18446744073709551616"})
        EXPECT_FALSE(json::asInt64(JsonValue::parse(text))) << text;
}

TEST(LenientMemberReads, FloatsFromAnyNumberInRange) {
    EXPECT_EQ(json::readFloat(sample, "fraction"), 2.5f);
    EXPECT_EQ(json::readFloat(sample, "int"), 42.0f);
    EXPECT_EQ(json::asFloat(JsonValue(0.8)), 0.8f); // rounded to the nearest float
    EXPECT_FALSE(json::readFloat(sample, "huge"));
    const float largest = std::numeric_limits<float>::max();
    EXPECT_EQ(json::asFloat(JsonValue::parse("3.4028235e38")), largest);
    EXPECT_EQ(json::asFloat(JsonValue::parse("-3.4028235e38")), -largest);
    EXPECT_FALSE(json::asFloat(JsonValue::parse("3.4028236e38"))); // rounds to infinity
    EXPECT_EQ(json::readDouble(sample, "huge"), 1e300);
    EXPECT_EQ(json::readDouble(sample, "tooBig"), 9223372036854775808.0);
    for (const char* key : {"numericText", "bool", "null", "object"}) {
        EXPECT_FALSE(json::readFloat(sample, key)) << key;
        EXPECT_FALSE(json::readDouble(sample, key)) << key;
    }
}

TEST(LenientMemberReads, BooleansAndObjects) {
    EXPECT_EQ(json::readBool(sample, "bool"), true);
    EXPECT_FALSE(json::readBool(sample, "int"));
    EXPECT_FALSE(json::readBool(sample, "text"));
    ASSERT_NE(json::readObject(sample, "object"), nullptr);
    EXPECT_EQ(json::readObject(sample, "object")->at("a"), 1);
    EXPECT_EQ(json::readObject(sample, "list"), nullptr);
    EXPECT_EQ(json::readObject(sample, "text"), nullptr);
}

TEST(LenientMemberReads, NonObjectsHaveNoMembers) {
    for (const char* doc : {"[1]", "\"text\"", "3", "null", "true"})
        EXPECT_FALSE(json::readText(JsonValue::parse(doc), "text")) << doc;
}

TEST(WholeTextNumbers, Integers) {
    EXPECT_EQ(json::parseInt64Text("48"), 48);
    EXPECT_EQ(json::parseInt64Text("+48"), 48);
    EXPECT_EQ(json::parseInt64Text("-3"), -3);
    EXPECT_EQ(json::parseInt64Text("007"), 7);
    EXPECT_EQ(json::parseInt64Text("9223372036854775807"),
              std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(json::parseInt64Text("-9223372036854775808"),
              std::numeric_limits<std::int64_t>::min());
    for (const char* text : {"", "+", "-", " 12", "12 ", "12.5", "8.0", "1e3", "0x10", "+-1", "--1",
                             "9223372036854775808", "-9223372036854775809", "12a", "١٢"})
        EXPECT_FALSE(json::parseInt64Text(text)) << '"' << text << '"';
}

TEST(WholeTextNumbers, Floats) {
    EXPECT_EQ(json::parseFloatText("0.5"), 0.5f);
    EXPECT_EQ(json::parseFloatText("+0.5"), 0.5f);
    EXPECT_EQ(json::parseFloatText("-2"), -2.0f);
    EXPECT_EQ(json::parseFloatText(".5"), 0.5f);
    EXPECT_EQ(json::parseFloatText("5."), 5.0f);
    EXPECT_EQ(json::parseFloatText("1e3"), 1000.0f);
    EXPECT_EQ(json::parseFloatText("2.5E-1"), 0.25f);
    EXPECT_EQ(json::parseFloatText("0.8"), 0.8f);
    EXPECT_EQ(json::parseFloatText("1e-50"), 0.0f); // below the range: rounds towards zero
    EXPECT_EQ(json::parseDoubleText("24.5"), 24.5);
    EXPECT_EQ(json::parseDoubleText("1e300"), 1e300);
    for (const char* text : {"", " 0.5", "0.5 ", "50%", ".", "+", "e3", "1e", "1e+", "0,5", "inf",
                             "nan", "0x1p3", "1e39", "abc", "0.85abc"})
        EXPECT_FALSE(json::parseFloatText(text)) << '"' << text << '"';
    EXPECT_FALSE(json::parseDoubleText("1e400"));
}

TEST(WholeTextNumbers, IndependentOfTheProcessLocale) {
    // A locale whose decimal separator is a comma, where the machine has one.
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    bool switched = false;
    for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE", "fr_FR"})
        if (std::setlocale(LC_NUMERIC, name)) {
            switched = true;
            break;
        }
    EXPECT_EQ(json::parseFloatText("0.5"), 0.5f);
    EXPECT_EQ(json::parseDoubleText("24.5"), 24.5);
    EXPECT_FALSE(json::parseFloatText("0,5"));
    std::setlocale(LC_NUMERIC, saved.c_str());
    if (!switched)
        GTEST_SKIP() << "no comma-decimal locale installed; checked in the C locale only";
}

TEST(SerializedJsonText, AcceptsObjectsAndListsOnly) {
    EXPECT_EQ(json::parseSerialized(R"({"a":"b"})"), JsonValue::parse(R"({"a":"b"})"));
    EXPECT_EQ(json::parseSerialized(" [1, 2] "), JsonValue::parse("[1,2]"));
    for (const char* text : {"", "   ", "\"text\"", "12", "true", "null", "{", "{\"a\":1} x",
                             "{'a':1}", "{\"a\":1,}", "/* c */ {}", "[1] [2]"})
        EXPECT_FALSE(json::parseSerialized(text)) << text;
}

TEST(SerializedJsonText, RejectsInvalidUtf8) {
    EXPECT_FALSE(json::parseSerialized("{\"a\":\"\xff\"}"));
    EXPECT_FALSE(json::parseSerialized("{\"\xc3\x28\":1}"));
    EXPECT_TRUE(json::parseSerialized("{\"caf\xc3\xa9\":1}"));
    EXPECT_FALSE(json::parseSerialized(std::string("{\"a\":\"x\0y\"}", 11)));
}

TEST(SerializedJsonText, DeepNestingIsRefusedNotFollowed) {
    const std::size_t limit = json::maxNestingDepth;
    const auto nested = [](std::size_t depth) {
        return std::string(depth, '[') + std::string(depth, ']');
    };
    EXPECT_TRUE(json::parseSerialized(nested(limit)));
    EXPECT_FALSE(json::parseSerialized(nested(limit + 1)));
    EXPECT_FALSE(json::parseSerialized(nested(100000)));
    // Brackets inside strings do not count as nesting.
    const std::string inString = "[\"" + std::string(100000, '[') + "\\\"\"]";
    EXPECT_TRUE(json::parseSerialized(inString));
}

TEST(SerializedJsonText, NumbersBeyondADoubleAreNullMembersNotBrokenDocuments) {
    const std::string huge = "1" + std::string(400, '0');
    const auto page =
        json::parseDocument(R"({"Id":"p1","Unread":1e400,"Score":-2E+999,"Big":)" + huge +
                            R"(,"Tiny":1e-400,"Text":"1e400","Kept":12.5,"List":[1e999,2]})");
    ASSERT_TRUE(page);
    EXPECT_EQ((*page)["Id"], "p1");
    EXPECT_TRUE((*page)["Unread"].is_null());
    EXPECT_TRUE((*page)["Score"].is_null());
    EXPECT_TRUE((*page)["Big"].is_null());
    EXPECT_EQ((*page)["Tiny"], 0.0);
    EXPECT_EQ((*page)["Text"], "1e400"); // inside a string nothing changes
    EXPECT_EQ((*page)["Kept"], 12.5);
    EXPECT_EQ((*page)["List"], JsonValue::parse("[null,2]"));
    EXPECT_FALSE(json::readDouble(*page, "Unread"));
    // A malformed number is still refused.
    EXPECT_FALSE(json::parseDocument(R"({"a":1e})"));
}
