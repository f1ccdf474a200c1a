#include <kestrel/styles/button.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

using kestrel::Button;
using kestrel::Height;
using kestrel::HorizontalPosition;
using kestrel::ImageSize;
using kestrel::JsonValue;

namespace {

Button buttonWith(const char* key, const JsonValue& value) {
    return Button::fromDictionary(JsonValue{{key, value}});
}

} // namespace

TEST(ButtonFromDictionary, EmptyOrNonObjectGivesEveryFieldAbsent) {
    for (const char* doc : {"{}", "[]", "null", "\"button\"", "3", "[{\"opacity\":\"1\"}]"})
        EXPECT_EQ(Button::fromDictionary(JsonValue::parse(doc)), Button{}) << doc;
}

TEST(ButtonFromDictionary, FullDictionary) {
    const auto button = Button::fromDictionary(JsonValue::parse(R"j({
        "background-color": "rgba(0, 0, 0, 0.5)", "opacity": "0.75", "display": "true",
        "height": "16x9", "radius": "8", "image-size": "contain", "image-position": "right",
        "unrelated": "ignored"})j"));
    const Button expected{"rgba(0, 0, 0, 0.5)",
                          0.75f,
                          "rgba(0, 0, 0, 0.5)",
                          true,
                          8,
                          Height{std::nullopt, 16.0f, 9.0f},
                          ImageSize::contain,
                          HorizontalPosition::right};
    EXPECT_EQ(button, expected);
}

TEST(ButtonFromDictionary, RgbaColorOnlyForLowerCaseRgbaSubstring) {
    struct Case {
        const char* color;
        bool rgba;
    };
    for (const auto& c : std::vector<Case>{{"rgba(0, 0, 0, 0.5)", true},
                                           {"#FF0000", false},
                                           {"RGBA(1,2,3,4)", false},
                                           {"rgb(1,2,3)", false},
                                           {"xrgbax", true},
                                           {"", false}}) {
        const auto button = buttonWith("background-color", c.color);
        EXPECT_EQ(button.backgroundColor, c.color);
        EXPECT_EQ(button.rgbaColor, c.rgba ? std::optional<std::string>(c.color) : std::nullopt)
            << c.color;
    }
    // A colour that is not a text sets neither field.
    EXPECT_EQ(buttonWith("background-color", 0), Button{});
}

TEST(ButtonFromDictionary, OpacityFromWholeNumericTextOrNumber) {
    const std::vector<std::pair<JsonValue, float>> accepted{
        {"0.5", 0.5f}, {0.5, 0.5f},    {0, 0.0f},         {1, 1.0f},   {"1", 1.0f},
        {"+.5", 0.5f}, {"5e-1", 0.5f}, {"-0.25", -0.25f}, {0.8, 0.8f}, {"0.8", 0.8f}};
    for (const auto& [value, expected] : accepted)
        EXPECT_EQ(buttonWith("opacity", value).opacity, expected) << value.dump();
    for (const JsonValue& value :
         {JsonValue("50%"), JsonValue(" 0.5"), JsonValue("0.5 "), JsonValue(""), JsonValue("0,5"),
          JsonValue("inf"), JsonValue("nan"), JsonValue("0x1p-1"), JsonValue("1e39"),
          JsonValue(1e39), JsonValue(true), JsonValue(nullptr), JsonValue::array()})
        EXPECT_FALSE(buttonWith("opacity", value).opacity) << value.dump();
}

TEST(ButtonFromDictionary, DisplayIsTrueOnlyForExactTextTrue) {
    struct Case {
        JsonValue value;
        std::optional<bool> expected;
    };
    const std::vector<Case> cases{
        {"true", true}, {"false", false}, {"True", false},  {"TRUE", false},          {"1", false},
        {"yes", false}, {"", false},      {" true", false}, {"true ", false},         {true, {}},
        {false, {}},    {1, {}},          {nullptr, {}},    {JsonValue::object(), {}}};
    for (const auto& c : cases)
        EXPECT_EQ(buttonWith("display", c.value).display, c.expected) << c.value.dump();
}

TEST(ButtonFromDictionary, HeightAsIntegerOrRatioText) {
    const std::optional<float> none;
    const std::optional<std::int64_t> noValue;
    const std::vector<std::pair<const char*, Height>> accepted{{"48", {48, none, none}},
                                                               {"+48", {48, none, none}},
                                                               {"-1", {-1, none, none}},
                                                               {"16x9", {noValue, 16, 9}},
                                                               {"1.5x2.5", {noValue, 1.5, 2.5}},
                                                               {"16x9x4", {noValue, 16, 9}},
                                                               {"16x", {noValue, 16, none}},
                                                               {"x9", {noValue, none, 9}},
                                                               {"x", {}},
                                                               {"axb", {}},
                                                               {"16 x 9", {}},
                                                               {"xx9", {}}};
    for (const auto& [text, expected] : accepted)
        EXPECT_EQ(buttonWith("height", text).height, expected) << text;
    for (const JsonValue& value :
         {JsonValue("50.5"), JsonValue("16X9"), JsonValue(""), JsonValue(" 48"),
          JsonValue("9223372036854775808"), JsonValue(48), JsonValue{{"value", 48}}})
        EXPECT_FALSE(buttonWith("height", value).height) << value.dump();
}

TEST(ButtonFromDictionary, RadiusFromWholeIntegerText) {
    EXPECT_EQ(buttonWith("radius", "8").radius, 8);
    EXPECT_EQ(buttonWith("radius", "+8").radius, 8);
    EXPECT_EQ(buttonWith("radius", "-8").radius, -8);
    EXPECT_EQ(buttonWith("radius", "9223372036854775807").radius,
              std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(buttonWith("radius", "-9223372036854775808").radius,
              std::numeric_limits<std::int64_t>::min());
    for (const JsonValue& value :
         {JsonValue("9223372036854775808"), JsonValue("8.5"), JsonValue("8.0"), JsonValue(" 8"),
          JsonValue("8px"), JsonValue("+"), JsonValue(""), JsonValue(8)})
        EXPECT_FALSE(buttonWith("radius", value).radius) << value.dump();
}

TEST(ButtonFromDictionary, ImageKeysMatchRawValuesExactly) {
    EXPECT_EQ(buttonWith("image-size", "cover").imageSize, ImageSize::cover);
    EXPECT_EQ(buttonWith("image-size", "contain").imageSize, ImageSize::contain);
    EXPECT_EQ(buttonWith("image-position", "left").imagePosition, HorizontalPosition::left);
    EXPECT_EQ(buttonWith("image-position", "center").imagePosition, HorizontalPosition::center);
    for (const char* text : {"Cover", "fill", "", "cover "})
        EXPECT_FALSE(buttonWith("image-size", text).imageSize) << text;
    for (const char* text : {"Center", "middle", "LEFT", ""})
        EXPECT_FALSE(buttonWith("image-position", text).imagePosition) << text;
    EXPECT_FALSE(buttonWith("image-size", 0).imageSize);
}

TEST(ButtonFromDictionary, MalformedValueLeavesOnlyItsOwnField) {
    const auto button = Button::fromDictionary(JsonValue::parse(
        R"({"background-color": "#000", "opacity": "half", "radius": 4, "height": "48"})"));
    EXPECT_EQ(button.backgroundColor, "#000");
    EXPECT_FALSE(button.opacity);
    EXPECT_FALSE(button.radius);
    EXPECT_EQ(button.height, (Height{48, std::nullopt, std::nullopt}));
}
