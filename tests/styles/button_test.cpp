#include <kestrel/styles/button.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
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
    struct Case {
        JsonValue value;
        std::optional<float> expected;
    };
    const std::vector<Case> cases{
        {"0.5", 0.5f},
        {0.5, 0.5f},
        {0, 0.0f},
        {1, 1.0f},
        {"1", 1.0f},
        {"-0.25", -0.25f},
        {"+.5", 0.5f},
        {"5e-1", 0.5f},
        {0.8, 0.8f},
        {"0.8", 0.8f},
        {"50%", {}},
        {" 0.5", {}},
        {"0.5 ", {}},
        {"", {}},
        {"0,5", {}},
        {"inf", {}},
        {"nan", {}},
        {"0x1p-1", {}},
        {"1e39", {}},
        {1e39, {}},
        {true, {}},
        {nullptr, {}},
        {JsonValue::array(), {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(buttonWith("opacity", c.value).opacity, c.expected) << c.value.dump();
}

TEST(ButtonFromDictionary, DisplayIsTrueOnlyForExactTextTrue) {
    struct Case {
        JsonValue value;
        std::optional<bool> expected;
    };
    const std::vector<Case> cases{
        {"true", true}, {"false", false}, {"True", false},  {"TRUE", false},           {"1", false},
        {"yes", false}, {"", false},      {" true", false}, {"true ", false},          {true, {}},
        {false, {}},    {1, {}},          {nullptr, {}},    {JsonValue::object(), {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(buttonWith("display", c.value).display, c.expected) << c.value.dump();
}

TEST(ButtonFromDictionary, HeightAsIntegerOrRatioText) {
    struct Case {
        JsonValue value;
        std::optional<Height> expected;
    };
    const std::optional<float> none;
    const std::vector<Case> cases{
        {"48", Height{48, none, none}},
        {"+48", Height{48, none, none}},
        {"-1", Height{-1, none, none}},
        {"0", Height{0, none, none}},
        {"16x9", Height{std::nullopt, 16.0f, 9.0f}},
        {"1.5x2.5", Height{std::nullopt, 1.5f, 2.5f}},
        {"16x9x4", Height{std::nullopt, 16.0f, 9.0f}},
        {"x", Height{}},
        {"axb", Height{}},
        {"16x", Height{std::nullopt, 16.0f, none}},
        {"x9", Height{std::nullopt, none, 9.0f}},
        {"16 x 9", Height{}},
        {"xx9", Height{}},
        {"50.5", std::nullopt},
        {"16X9", std::nullopt},
        {"", std::nullopt},
        {" 48", std::nullopt},
        {"9223372036854775808", std::nullopt},
        {48, std::nullopt},
        {JsonValue{{"value", 48}}, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(buttonWith("height", c.value).height, c.expected) << c.value.dump();
}

TEST(ButtonFromDictionary, RadiusFromWholeIntegerText) {
    struct Case {
        JsonValue value;
        std::optional<std::int64_t> expected;
    };
    const std::vector<Case> cases{
        {"8", 8},
        {"+8", 8},
        {"-8", -8},
        {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
        {"-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
        {"9223372036854775808", {}},
        {"8.5", {}},
        {"8.0", {}},
        {" 8", {}},
        {"8px", {}},
        {"+", {}},
        {"", {}},
        {8, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(buttonWith("radius", c.value).radius, c.expected) << c.value.dump();
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
