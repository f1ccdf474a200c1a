#include <kestrel/model.hpp>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace kestrel;

namespace {

const std::vector<ActionType> allTypes{ActionType::Calendar, ActionType::Url,    ActionType::VCard,
                                       ActionType::Share,    ActionType::Email,  ActionType::Data,
                                       ActionType::Sms,      ActionType::Map,    ActionType::Phone,
                                       ActionType::Text,     ActionType::Unknown};

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
    EXPECT_FALSE(style.text->display);
    EXPECT_FALSE(style.text->rgbaColor);
}

TEST(ScannedCodeActions, CodeUrlFieldByField) {
    const std::string text = "https://example.org/a?b=c";
    const auto action = Action::fromCodeUrl(text);
    expectScannedCodeFrame(action, text);
    EXPECT_EQ(action.type, ActionType::Url);
    const JsonValue& dict = *action.content->dictionary;
    EXPECT_EQ(dict, (JsonValue{{"Url", text},
                               {"IsEmbeddedWebView", true},
                               {"IsAnonymousURL", true},
                               {"ContentType", "text/html"}}));
    // Booleans, not the texts "true".
    EXPECT_TRUE(dict.at("IsEmbeddedWebView").is_boolean());
    EXPECT_TRUE(dict.at("IsAnonymousURL").is_boolean());
    // The typed views stay absent even for a scanned web address.
    EXPECT_FALSE(action.content->url());
    EXPECT_FALSE(action.content->isEmbeddedWebView());
}

TEST(ScannedCodeActions, ZbarDataContentByKind) {
    const std::string text = "+49 30 1234";
    struct Case {
        ActionType type;
        JsonValue dictionary;
    };
    const std::vector<Case> cases{{ActionType::Url,
                                   {{"Url", text},
                                    {"IsEmbeddedWebView", true},
                                    {"IsAnonymousURL", true},
                                    {"ContentType", "text/html"}}},
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
    ASSERT_EQ(cases.size(), allTypes.size());
    for (const auto& c : cases) {
        const auto action = Action::fromZbarData(text, c.type);
        SCOPED_TRACE(rawValue(c.type));
        expectScannedCodeFrame(action, text);
        EXPECT_EQ(action.type, c.type);
        EXPECT_EQ(action.content->dictionary, c.dictionary);
        EXPECT_TRUE(action.content->dictionary->is_object());
    }
}

TEST(ScannedCodeActions, TextIsStoredUnchangedAndNotInspected) {
    const std::string vcard = "BEGIN:VCARD\nFN:Ada\nEND:VCARD\n";
    const auto asText = Action::fromZbarData(vcard, ActionType::Text);
    EXPECT_EQ(asText.type, ActionType::Text);
    EXPECT_EQ(asText.content->dictionary, (JsonValue{{"Text", vcard}}));

    for (const std::string& odd : {std::string(), std::string("  padded  "), std::string("a\0b", 3),
                                   std::string(1 << 20, 'u')}) {
        const auto action = Action::fromCodeUrl(odd);
        EXPECT_EQ(action.name, odd);
        EXPECT_EQ(action.content->dictionary->at("Url"), odd);
    }
}

TEST(ScannedCodeActions, ZbarDataOfUrlEqualsCodeUrl) {
    for (const char* text : {"", "https://example.org", "tel:+123", "BEGIN:VCARD", "\xc3\xa9"}) {
        EXPECT_EQ(Action::fromZbarData(text, ActionType::Url), Action::fromCodeUrl(text)) << text;
        EXPECT_NE(Action::fromZbarData(text, ActionType::Text), Action::fromCodeUrl(text)) << text;
    }
}
