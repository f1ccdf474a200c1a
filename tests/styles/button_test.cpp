#include <kestrel/styles/button.hpp>

#include <gtest/gtest.h>

#include <cstdint>
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
    for (const auto& [color, rgba] : std::vector<std::pair<const char*, bool>>{
             {"#FF0000", false}, {"RGBA(1,2,3,4)", false}, {"xrgbax", true}}) {
        const auto button = buttonWith("background-color", color);
        EXPECT_EQ(button.backgroundColor, color);
        EXPECT_EQ(button.rgbaColor, rgba ? std::optional<std::string>(color) : std::nullopt)
            << color;
    }
    // A colour that is not a text sets neither field.
    EXPECT_EQ(buttonWith("background-color", 0), Button{});
}

TEST(ButtonFromDictionary, OpacityFromWholeNumericTextOrNumber) {
    EXPECT_EQ(buttonWith("opacity", "0.8").opacity, 0.8f);
    EXPECT_EQ(buttonWith("opacity", 0.8).opacity, 0.8f);
    // Which texts are numbers is the JSON reader's rule, tested with it.
    EXPECT_FALSE(buttonWith("opacity", " 0.5").opacity);
    EXPECT_FALSE(buttonWith("opacity", true).opacity);
}

TEST(ButtonFromDictionary, DisplayIsTrueOnlyForExactTextTrue) {
    const std::vector<std::pair<JsonValue, std::optional<bool>>> cases{
        {"true", true}, {"True", false}, {true, {}}};
    for (const auto& [value, expected] : cases)
        EXPECT_EQ(buttonWith("display", value).display, expected) << value.dump();
}

TEST(ButtonFromDictionary, HeightAsIntegerOrRatioText) {
    const std::optional<float> none;
    const std::optional<std::int64_t> noValue;
    const std::vector<std::pair<const char*, Height>> accepted{{"48", {48, none, none}},
                                                               {"1.5x2.5", {noValue, 1.5, 2.5}},
                                                               {"16x9x4", {noValue, 16, 9}},
                                                               {"x9", {noValue, none, 9}}};
    for (const auto& [text, expected] : accepted)
        EXPECT_EQ(buttonWith("height", text).height, expected) << text;
    for (const JsonValue& value : {JsonValue("50.5"), JsonValue("16X9"), JsonValue(48)})
        EXPECT_FALSE(buttonWith("height", value).height) << value.dump();
}

TEST(ButtonFromDictionary, RadiusFromWholeIntegerText) {
    EXPECT_EQ(buttonWith("radius", "-8").radius, -8);
    EXPECT_FALSE(buttonWith("radius", "8px").radius);
    EXPECT_FALSE(buttonWith("radius", 8).radius);
}

TEST(ButtonFromDictionary, ImageKeysMatchRawValuesExactly) {
    EXPECT_EQ(buttonWith("image-size", "cover").imageSize, ImageSize::cover);
    EXPECT_EQ(buttonWith("image-position", "center").imagePosition, HorizontalPosition::center);
    EXPECT_FALSE(buttonWith("image-size", "Cover").imageSize);
    EXPECT_FALSE(buttonWith("image-position", "middle").imagePosition);
    EXPECT_FALSE(buttonWith("image-size", 0).imageSize);
}
