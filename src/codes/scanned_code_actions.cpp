// Actions built from the text of a scanned QR or bar code, with no request to the service. The
// text is stored as it is — nothing is detected or trimmed — except that bytes that are not UTF-8
// become U+FFFD, so that the action can always be serialised.
#include <kestrel/model/action.hpp>

#include "support/utf8.hpp"

#include <utility>

namespace kestrel {

namespace {

// The fixed priority and order of every scanned-code action.
constexpr std::int64_t scannedCodeRank = -1000;

JsonValue webAddressContent(std::string url) {
    return JsonValue{{"Url", std::move(url)},
                     {"IsEmbeddedWebView", true},
                     {"IsAnonymousURL", true},
                     {"ContentType", "text/html"}};
}

JsonValue contentFor(ActionType type, const std::string& text) {
    switch (type) {
    case ActionType::Url:
        return webAddressContent(text);
    case ActionType::VCard:
        return JsonValue{{"BEGIN:VCARD", text}};
    case ActionType::Sms:
        return JsonValue{{"Number", text}, {"Content", ""}};
    case ActionType::Phone:
        return JsonValue{{"Number", text}};
    case ActionType::Text:
        return JsonValue{{"Text", text}};
    default:
        return JsonValue::object();
    }
}

Action scannedCodeAction(std::string text, ActionType type, JsonValue content) {
    Action action;
    action.name = std::move(text);
    action.type = type;
    action.order = scannedCodeRank;
    action.priority = scannedCodeRank;
    action.content = Content::fromDictionary(std::move(content), type);
    action.style = Style::forQrCodeType(QrCodeType::url);
    action.isQrCode = true;
    return action;
}

} // namespace

Action Action::fromCodeUrl(std::string text) {
    text = support::withReplacementCharacters(text);
    JsonValue content = webAddressContent(text);
    return scannedCodeAction(std::move(text), ActionType::Url, std::move(content));
}

Action Action::fromZbarData(std::string text, ActionType type) {
    text = support::withReplacementCharacters(text);
    JsonValue content = contentFor(type, text);
    return scannedCodeAction(std::move(text), type, std::move(content));
}

} // namespace kestrel
