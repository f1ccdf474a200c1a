#include <kestrel/styles/icon.hpp>
#include <kestrel/styles/text.hpp>

#include <gtest/gtest.h>

#include <optional>
#include <utility>
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

} // namespace

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
}

TEST(TextFromDictionary, EnumerationsMatchTheirOwnWordsExactly) {
    // Horizontal centre is "center"; vertical centre is "middle".
    EXPECT_FALSE(textWith("hposition", "middle").hposition);
    EXPECT_FALSE(textWith("vposition", "center").vposition);
    EXPECT_EQ(textWith("font-weight", "normal").fontWeight, FontWeight::normal);
    for (const JsonValue& v : {JsonValue("700"), JsonValue("Bold"), JsonValue(700)})
        EXPECT_FALSE(textWith("font-weight", v).fontWeight) << v.dump();
    EXPECT_FALSE(textWith("font-style", "Italic").fontStyle);
}

TEST(TextFromDictionary, FontSizeFromIntegerTextOpacityAlsoFromNumber) {
    EXPECT_EQ(textWith("font-size", "-2").fontSize, -2);
    EXPECT_FALSE(textWith("font-size", 17).fontSize);
    EXPECT_FALSE(textWith("font-size", "12.5").fontSize);
    EXPECT_EQ(textWith("opacity", 1).opacity, 1.0f);
}

TEST(IconFromDictionary, FullDictionaryAndSizeOnlyFromWholeNumericText) {
    const auto icon = Icon::fromDictionary(JsonValue::parse(
        R"({"size": "32", "display": "true", "hposition": "left", "vposition": "bottom",
            "color": "ignored"})"));
    EXPECT_EQ(icon, (Icon{32.0, true, HorizontalPosition::left, VerticalPosition::bottom}));

    const std::vector<std::pair<JsonValue, std::optional<double>>> cases{
        {"24.5", 24.5}, {24, {}}, {"24px", {}}};
    for (const auto& [value, expected] : cases)
        EXPECT_EQ(Icon::fromDictionary(JsonValue{{"size", value}}).size, expected) << value.dump();
}
