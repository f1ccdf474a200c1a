/// \file
/// The user's languages and current locale, read from the POSIX locale variables (LANGUAGE,
/// LC_ALL, LC_MESSAGES, LANG) and given as language tags ("fr_CA.UTF-8" reads as "fr-CA").
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::platform {

/// The user's languages and current locale. Every call is static and safe from any thread.
class Locale {
public:
    /// The user's languages, most wanted first, never empty: each entry of the colon-separated
    /// LANGUAGE list, then the first of LC_ALL, LC_MESSAGES and LANG that is set, each as a
    /// language tag, duplicates dropped. Entries that are not locale names ("C", "POSIX", text that
    /// is not `language[_REGION][.codeset][@modifier]`) are skipped; when none is left the list is
    /// ["en"]. Read anew on each call; any thread.
    static std::vector<std::string> preferredLanguages();

    /// The current locale's language ("fr") and region ("CA"), from the first of LC_ALL,
    /// LC_MESSAGES and LANG that is set. The C or POSIX locale, or none, gives the language "en"
    /// and no region; a locale name without region gives no region. Any thread.
    static std::optional<std::string> languageCode();
    /// The current locale's region, as described for languageCode.
    static std::optional<std::string> regionCode();

    /// Replaces what preferredLanguages returns (a host's own language choice, or a test's). Empty
    /// entries are dropped; an empty list goes back to the environment. Any thread.
    static void setPreferredLanguages(std::vector<std::string> languages);
    /// Replaces the current locale name ("pt_BR", "de-AT") read by languageCode and regionCode; an
    /// empty text goes back to the environment. Any thread.
    static void setCurrentLocaleName(std::string name);

    /// A POSIX locale name or language tag as a language tag: language in lower case, a four-letter
    /// script in title case, region in upper case, joined by '-'; codeset and modifier dropped.
    /// Absent for "C", "POSIX", an empty text or anything that is not such a name.
    static std::optional<std::string> languageTag(std::string_view localeName);
};

} // namespace kestrel::platform
