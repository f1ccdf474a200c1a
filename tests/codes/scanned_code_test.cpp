#include <kestrel/model.hpp>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace kestrel;

namespace {

// The parts every scanned-code action shares, whatever its kind.
void expectScannedCodeFrame(const Action& action, const std::string& text) {
    EXPECT_TRUE(action.isQrCode);
    EXPECT_FALSE(action.id);
    EXPECT_EQ(action.name, text);
    EXPECT_EQ(action.priority, -1000);
    EXPECT_EQ(action.order, -1000);
    EXPECT_FALSE(action.icon);
    EXPECT_FALSE(action.backgroundImage);
    EXPECT_EQ(action.style, Style::forQrCodeType(QrCodeType::url));
    ASSERT_TRUE(action.content);
    EXPECT_EQ(action.content->type, action.type);
}

JsonValue urlContent(const std::string& text) {
    return {{"Url", text},
            {"IsEmbeddedWebView", true},
            {"IsAnonymousURL", true},
            {"ContentType", "text/html"}};
}

} // namespace

TEST(DefaultStyles, UrlStyleFieldByField) {
    const auto style = Style::forQrCodeType(QrCodeType::url);
    EXPECT_FALSE(style.model);
    EXPECT_FALSE(style.version);
    EXPECT_FALSE(style.icon);
    EXPECT_EQ(style.qrCodeType, QrCodeType::url);

    ASSERT_TRUE(style.button);
    Button button;
    button.backgroundColor = "#000000";
    button.opacity = 0.6f;
    EXPECT_EQ(*style.button, button); // display, radius, height, image fields and rgba absent
    EXPECT_EQ(style.button, Button::forQrCodeType(QrCodeType::url));

    ASSERT_TRUE(style.text);
    Text text;
    text.color = "#FFFFFF";
    text.opacity = 1.0f;
    text.backgroundColor = "rgba(0, 0, 0, 0)";
    EXPECT_EQ(*style.text, text); // the rgba background does not set rgbaColor
    EXPECT_EQ(style.text, Text::forQrCodeType(QrCodeType::url));
}

TEST(ScannedCodeActions, ZbarDataContentByKind) {
    const std::string text = "+49 30 1234";
    const std::vector<std::pair<ActionType, JsonValue>> cases{
        {ActionType::Url, urlContent(text)},
        {ActionType::VCard, {{"BEGIN:VCARD", text}}},
        {ActionType::Sms, {{"Number", text}, {"Content", ""}}},
        {ActionType::Phone, {{"Number", text}}},
        {ActionType::Text, {{"Text", text}}},
        {ActionType::Calendar, JsonValue::object()},
        {ActionType::Share, JsonValue::object()},
        {ActionType::Email, JsonValue::object()},
        {ActionType::Data, JsonValue::object()},
        {ActionType::Map, JsonValue::object()},
        {ActionType::Unknown, JsonValue::object()}};
    for (const auto& [type, dictionary] : cases) {
        const auto action = Action::fromZbarData(text, type);
        SCOPED_TRACE(rawValue(type));
        expectScannedCodeFrame(action, text);
        EXPECT_EQ(action.type, type);
        EXPECT_EQ(action.content->dictionary, dictionary);
        EXPECT_TRUE(action.content->dictionary->is_object());
    }
}

TEST(ScannedCodeActions, ZbarDataOfUrlEqualsCodeUrl) {
    for (const char* text : {"", "tel:+123", "\xc3\xa9"}) {
        EXPECT_EQ(Action::fromZbarData(text, ActionType::Url), Action::fromCodeUrl(text)) << text;
        EXPECT_NE(Action::fromZbarData(text, ActionType::Text), Action::fromCodeUrl(text)) << text;
    }
    // The typed views stay absent even for a scanned web address.
    const auto action = Action::fromCodeUrl("https://example.org");
    EXPECT_FALSE(action.content->url());
    EXPECT_FALSE(action.content->isEmbeddedWebView());
}

// A code's bytes need not be UTF-8; the action must still serialise, and valid text is untouched.
TEST(ScannedCodeActions, BytesThatAreNotUtf8BecomeReplacementCharacters) {
    const std::string valid = "tel:+44 café \xF0\x9F\x93\x9E";
    EXPECT_EQ(Action::fromZbarData(valid, ActionType::Phone).name, valid);
    const struct {
        std::string bytes, text;
    } cases[] = {
        {"a\xFF"
         "b",
         "a\xEF\xBF\xBD"
         "b"},                    // a byte that never starts a sequence
        {"\xC3", "\xEF\xBF\xBD"}, // cut short at the end
        {"\xE2\x82"
         "x",
         "\xEF\xBF\xBD"
         "x"},                                    // cut short by an ASCII byte: one U+FFFD
        {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"}, // overlong form
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"}, // surrogate
        {"\xF4\x90\x80\x80"
         "z",
         "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
         "z"},
    };
    for (const auto& c : cases) {
        const Action action = Action::fromCodeUrl(c.bytes);
        EXPECT_EQ(action.name, c.text);
        ASSERT_TRUE(action.content && action.content->dictionary);
        EXPECT_NO_THROW((void)action.content->dictionary->dump()) << c.text;
        EXPECT_EQ(Action::fromZbarData(c.bytes, ActionType::Text).name, c.text);
    }
}
