/// \file
/// The payload of an action: its content dictionary together with the kind of action it belongs
/// to.
#pragma once

#include <kestrel/json.hpp>
#include <kestrel/model/action_type.hpp>

#include <optional>
#include <string>

namespace kestrel {

/// The payload of an action: its content dictionary and the kind of action it belongs to.
struct Content {
    /// The payload exactly as parsed from the service or built for a scanned code: a JSON object
    /// whose keys depend on the kind of action. The library never adds, removes or checks a key.
    std::optional<JsonValue> dictionary;
    /// The kind of action the payload belongs to.
    std::optional<ActionType> type;

    /// Stores the dictionary (moved in, unchanged) and the type. Never fails; a value that is not
    /// an object is stored as given.
    static Content fromDictionary(JsonValue dictionary, ActionType type);

    /// \name Typed views of the payload
    ///@{

    /// Returns absent, whatever the dictionary holds and whatever the type is, as does every typed
    /// view: none reads either field. Read payload values from `dictionary` by their keys instead
    /// (for a scanned web address: "Url", "IsEmbeddedWebView", "IsAnonymousURL", "ContentType").
    std::optional<std::string> text() const;
    std::optional<std::string> vcalendar() const;
    std::optional<bool> isEmbeddedWebView() const;
    std::optional<bool> isAnonymousURL() const;
    std::optional<std::string> url() const;
    std::optional<std::string> urlContentType() const;
    std::optional<std::string> vcard() const;
    std::optional<std::string> shareContent() const;
    std::optional<std::string> shareUrl() const;
    std::optional<std::string> emailContent() const;
    std::optional<std::string> emailAddress() const;
    std::optional<std::string> emailSubject() const;
    std::optional<std::string> smsContent() const;
    std::optional<std::string> smsNumber() const;
    std::optional<std::string> phoneNumber() const;
    std::optional<double> mapLongitude() const;
    std::optional<double> mapLatitude() const;
    std::optional<std::string> mapSearchAddress() const;
    ///@}

    /// Equal when every field is equal.
    bool operator==(const Content&) const = default;
};

} // namespace kestrel
