#include <kestrel/platform/locale.hpp>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <string_view>

namespace kestrel::platform {

namespace {

struct Overrides {
    std::mutex mutex;
    std::vector<std::string> languages;
    std::string currentName;
};

Overrides& overrides() {
    static auto* instance = new Overrides();
    return *instance;
}

std::string_view environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string_view(value) : std::string_view();
}

// The locale name that the messages of the process follow: LC_ALL, then LC_MESSAGES, then LANG.
std::string_view messagesLocaleName() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const auto value = environment(name);
        if (!value.empty()) return value;
    }
    return {};
}

bool allLetters(std::string_view s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); });
}
bool allDigits(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

void appendUnique(std::vector<std::string>& list, std::optional<std::string> tag) {
    if (tag && std::find(list.begin(), list.end(), *tag) == list.end())
        list.push_back(std::move(*tag));
}

struct TagParts {
    std::string language;
    std::optional<std::string> region;
};

std::optional<TagParts> currentParts() {
    std::string name;
    {
        auto& o = overrides();
        std::lock_guard lock(o.mutex);
        name = o.currentName;
    }
    if (name.empty()) name = std::string(messagesLocaleName());
    const auto tag = Locale::languageTag(name);
    if (!tag) return std::nullopt;
    TagParts parts;
    std::string_view rest = *tag;
    for (std::size_t index = 0; !rest.empty(); ++index) {
        const auto dash = rest.find('-');
        const auto subtag = rest.substr(0, dash);
        if (index == 0)
            parts.language = std::string(subtag);
        else if (subtag.size() == 2 || subtag.size() == 3)
            parts.region = std::string(subtag);
        if (dash == std::string_view::npos) break;
        rest.remove_prefix(dash + 1);
    }
    return parts;
}

} // namespace

std::optional<std::string> Locale::languageTag(std::string_view name) {
    name = name.substr(0, name.find('@'));
    name = name.substr(0, name.find('.'));
    if (name.empty() || name == "C" || name == "POSIX") return std::nullopt;

    std::string tag;
    std::size_t index = 0;
    bool haveScript = false, haveRegion = false;
    while (true) {
        const auto end = name.find_first_of("_-");
        const auto subtag = name.substr(0, end);
        if (index == 0) {
            if (subtag.size() < 2 || subtag.size() > 3 || !allLetters(subtag)) return std::nullopt;
            for (char c : subtag) tag.push_back(lower(c));
        } else if (subtag.size() == 4 && allLetters(subtag) && !haveScript && !haveRegion) {
            haveScript = true;
            tag.push_back('-');
            tag.push_back(upper(subtag[0]));
            for (char c : subtag.substr(1)) tag.push_back(lower(c));
        } else if (((subtag.size() == 2 && allLetters(subtag)) ||
                    (subtag.size() == 3 && allDigits(subtag))) &&
                   !haveRegion) {
            haveRegion = true;
            tag.push_back('-');
            for (char c : subtag) tag.push_back(upper(c));
        } else {
            return std::nullopt;
        }
        ++index;
        if (end == std::string_view::npos) break;
        name.remove_prefix(end + 1);
    }
    return tag;
}

std::vector<std::string> Locale::preferredLanguages() {
    {
        auto& o = overrides();
        std::lock_guard lock(o.mutex);
        if (!o.languages.empty()) return o.languages;
    }
    std::vector<std::string> languages;
    std::string_view list = environment("LANGUAGE");
    while (!list.empty()) {
        const auto colon = list.find(':');
        appendUnique(languages, languageTag(list.substr(0, colon)));
        if (colon == std::string_view::npos) break;
        list.remove_prefix(colon + 1);
    }
    appendUnique(languages, languageTag(messagesLocaleName()));
    if (languages.empty()) languages.emplace_back("en");
    return languages;
}

std::optional<std::string> Locale::languageCode() {
    const auto parts = currentParts();
    return parts ? parts->language : std::string("en");
}

std::optional<std::string> Locale::regionCode() {
    const auto parts = currentParts();
    return parts ? parts->region : std::nullopt;
}

void Locale::setPreferredLanguages(std::vector<std::string> languages) {
    std::erase_if(languages, [](const std::string& s) { return s.empty(); });
    auto& o = overrides();
    std::lock_guard lock(o.mutex);
    o.languages = std::move(languages);
}

void Locale::setCurrentLocaleName(std::string name) {
    auto& o = overrides();
    std::lock_guard lock(o.mutex);
    o.currentName = std::move(name);
}

} // namespace kestrel::platform
