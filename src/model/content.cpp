#include <kestrel/model/content.hpp>

#include <utility>

namespace kestrel {

Content Content::fromDictionary(JsonValue dictionary, ActionType type) {
    return Content{std::move(dictionary), type};
}

// The typed views are part of the interface but carry no payload: hosts read `dictionary`.
std::optional<std::string> Content::text() const { return std::nullopt; }
std::optional<std::string> Content::vcalendar() const { return std::nullopt; }
std::optional<bool> Content::isEmbeddedWebView() const { return std::nullopt; }
std::optional<bool> Content::isAnonymousURL() const { return std::nullopt; }
std::optional<std::string> Content::url() const { return std::nullopt; }
std::optional<std::string> Content::urlContentType() const { return std::nullopt; }
std::optional<std::string> Content::vcard() const { return std::nullopt; }
std::optional<std::string> Content::shareContent() const { return std::nullopt; }
std::optional<std::string> Content::shareUrl() const { return std::nullopt; }
std::optional<std::string> Content::emailContent() const { return std::nullopt; }
std::optional<std::string> Content::emailAddress() const { return std::nullopt; }
std::optional<std::string> Content::emailSubject() const { return std::nullopt; }
std::optional<std::string> Content::smsContent() const { return std::nullopt; }
std::optional<std::string> Content::smsNumber() const { return std::nullopt; }
std::optional<std::string> Content::phoneNumber() const { return std::nullopt; }
std::optional<double> Content::mapLongitude() const { return std::nullopt; }
std::optional<double> Content::mapLatitude() const { return std::nullopt; }
std::optional<std::string> Content::mapSearchAddress() const { return std::nullopt; }

} // namespace kestrel
