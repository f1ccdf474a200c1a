/// \file
/// One action offered for a recognised page or built from a scanned code: its kind, its payload
/// and its display style.
#pragma once

#include <kestrel/json.hpp>
#include <kestrel/model/action_type.hpp>
#include <kestrel/model/content.hpp>
#include <kestrel/styles/style.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace kestrel {

/// One action offered for a recognised page or built from a scanned code. A field is absent when
/// the reply did not give it in a usable form.
struct Action {
    std::optional<std::string> id;              ///< "Id"
    std::optional<std::string> name;            ///< "Name"
    std::optional<std::int64_t> priority;       ///< "Priority"
    std::optional<std::int64_t> order;          ///< "Order"
    std::optional<Style> style;                 ///< parsed from the "Style" JSON text
    std::optional<ActionType> type;             ///< "Type"
    std::optional<std::string> icon;            ///< "Icon"
    std::optional<std::string> backgroundImage; ///< "BackgroundImage"
    std::optional<Content> content;             ///< parsed from the "Content" JSON text
    bool isQrCode = false;                      ///< true only for actions built from a scanned code

    /// Decodes one action object of a recognition reply. "Id", "Name", "Icon", "BackgroundImage"
    /// are read as strings, "Priority" and "Order" as whole numbers within the signed 64-bit
    /// range, "Type" as an exact raw value of ActionType. "Style" and "Content" are strings that
    /// hold serialized JSON; "Style" gives a Style when its text is a JSON object, "Content" gives
    /// a Content when its text is a JSON object and "Type" gave a type. A member that is missing,
    /// null or of another type leaves only its own field absent. A "Style" or "Content" text that
    /// is not valid JSON prints one diagnostic line on standard output and leaves its field
    /// absent. Throws DecodingError only when the value is not a JSON object.
    static Action decode(const JsonValue& value);

    /// The action of a scanned code holding a web address: named after the text, of type Url,
    /// with the content {"Url": text, "IsEmbeddedWebView": true, "IsAnonymousURL": true,
    /// "ContentType": "text/html"}, priority and order -1000 and the default scanned-code style.
    /// Any text is accepted unchanged, the empty text included.
    static Action fromCodeUrl(std::string text);

    /// The action of a scanned code of a kind the host has chosen: named after the text, with a
    /// content dictionary for the kind (Url as fromCodeUrl; VCard {"BEGIN:VCARD": text}; Sms
    /// {"Number": text, "Content": ""}; Phone {"Number": text}; Text {"Text": text}; every other
    /// kind the empty object), priority and order -1000 and the default scanned-code style. The
    /// text is not inspected: the kind is always the one given.
    static Action fromZbarData(std::string text, ActionType type);

    /// Equal when every field is equal.
    bool operator==(const Action&) const = default;
};

} // namespace kestrel
