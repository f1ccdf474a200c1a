#include <kestrel/styles/icon.hpp>
#include <kestrel/styles/text.hpp>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using kestrel::FontStyle;
using kestrel::FontWeight;
using kestrel::HorizontalPosition;
using kestrel::Icon;
using kestrel::JsonValue;
using kestrel::Text;
using kestrel::VerticalPosition;

namespace {

Text textWith(const char* key, const JsonValue& value) {
    return Text::fromDictionary(JsonValue{{key, value}});
}
Icon iconWith(const char* key, const JsonValue& value) {
    return Icon::fromDictionary(JsonValue{{key, value}});
}

} // namespace

TEST(TextFromDictionary, EmptyGivesEveryFieldAbsent) {
    EXPECT_EQ(Text::fromDictionary(JsonValue::object()), Text{});
    EXPECT_EQ(Text::fromDictionary(JsonValue::array()), Text{});
}

TEST(TextFromDictionary, FullDictionary) {
    const auto text = Text::fromDictionary(JsonValue::parse(R"j({
        "color": "rgba(255, 255, 255, 1)", "opacity": "0.5", "font-style": "italic",
        "font-weight": "bold", "font-size": "17", "display": "false", "hposition": "center",
        "vposition": "middle", "background-color": "#123456"})j"));
    const Text expected{"rgba(255, 255, 255, 1)",
                        0.5f,
                        "rgba(255, 255, 255, 1)",
                        FontWeight::bold,
                        FontStyle::italic,
                        17,
                        false,
                        HorizontalPosition::center,
                        VerticalPosition::center,
                        "#123456"};
    EXPECT_EQ(text, expected);
}

TEST(TextFromDictionary, RgbaColorComesFromCharacterColourOnly) {
    const auto text = Text::fromDictionary(
        JsonValue{{"color", "#FFFFFF"}, {"background-color", "rgba(0, 0, 0, 0)"}});
    EXPECT_EQ(text.backgroundColor, "rgba(0, 0, 0, 0)");
    EXPECT_FALSE(text.rgbaColor);
    EXPECT_EQ(textWith("color", "rgba(1,2,3,4)").rgbaColor, "rgba(1,2,3,4)");
    EXPECT_FALSE(textWith("color", "RGBA(1,2,3,4)").rgbaColor);
}

TEST(TextFromDictionary, PositionsUseTheirOwnCentreWords) {
    // Horizontal centre is "center"; vertical centre is "middle".
    EXPECT_EQ(textWith("hposition", "center").hposition, HorizontalPosition::center);
    EXPECT_FALSE(textWith("hposition", "middle").hposition);
    EXPECT_EQ(textWith("vposition", "middle").vposition, VerticalPosition::center);
    EXPECT_FALSE(textWith("vposition", "center").vposition);
    EXPECT_EQ(textWith("vposition", "top").vposition, VerticalPosition::top);
    EXPECT_EQ(textWith("vposition", "bottom").vposition, VerticalPosition::bottom);
    EXPECT_FALSE(textWith("vposition", "Top").vposition);
}

TEST(TextFromDictionary, FontsMatchRawValuesExactly) {
    EXPECT_EQ(textWith("font-weight", "normal").fontWeight, FontWeight::normal);
    EXPECT_EQ(textWith("font-style", "italic").fontStyle, FontStyle::italic);
    for (const JsonValue& v :
         {JsonValue("700"), JsonValue("Bold"), JsonValue("bolder"), JsonValue(700), JsonValue("")})
        EXPECT_FALSE(textWith("font-weight", v).fontWeight) << v.dump();
    for (const JsonValue& v : {JsonValue("Italic"), JsonValue("oblique"), JsonValue(true)})
        EXPECT_FALSE(textWith("font-style", v).fontStyle) << v.dump();
}

TEST(TextFromDictionary, FontSizeOnlyFromWholeIntegerText) {
    EXPECT_EQ(textWith("font-size", "17").fontSize, 17);
    EXPECT_EQ(textWith("font-size", "-2").fontSize, -2);
    for (const JsonValue& v : {JsonValue(17), JsonValue("12.5"), JsonValue("17px"),
                               JsonValue(" 17"), JsonValue(""), JsonValue("99999999999999999999")})
        EXPECT_FALSE(textWith("font-size", v).fontSize) << v.dump();
}

TEST(TextFromDictionary, OpacityAndDisplayFollowTheButtonRules) {
    EXPECT_EQ(textWith("opacity", 1).opacity, 1.0f);
    EXPECT_EQ(textWith("opacity", "0.25").opacity, 0.25f);
    EXPECT_FALSE(textWith("opacity", "25%").opacity);
    EXPECT_EQ(textWith("display", "true").display, true);
    EXPECT_EQ(textWith("display", "True").display, false);
    EXPECT_FALSE(textWith("display", true).display);
}

TEST(IconFromDictionary, EmptyGivesEveryFieldAbsent) {
    EXPECT_EQ(Icon::fromDictionary(JsonValue::object()), Icon{});
    EXPECT_EQ(Icon::fromDictionary(JsonValue("size")), Icon{});
}

TEST(IconFromDictionary, SizeOnlyFromWholeNumericText) {
    struct Case {
        JsonValue value;
        std::optional<double> expected;
    };
    const std::vector<Case> cases{
        {"24.5", 24.5}, {"24", 24.0}, {"1e300", 1e300}, {"0.1", 0.1}, {24, {}},
        {24.5, {}},     {"24px", {}}, {" 24", {}},      {"", {}},     {"1e400", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(iconWith("size", c.value).size, c.expected) << c.value.dump();
}

TEST(IconFromDictionary, FullDictionary) {
    const auto icon = Icon::fromDictionary(JsonValue::parse(
        R"({"size": "32", "display": "true", "hposition": "left", "vposition": "bottom",
            "color": "ignored"})"));
    EXPECT_EQ(icon, (Icon{32.0, true, HorizontalPosition::left, VerticalPosition::bottom}));
}
