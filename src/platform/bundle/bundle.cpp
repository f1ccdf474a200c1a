#include <kestrel/platform/bundle.hpp>
#include <kestrel/platform/locale.hpp>

#include "platform/bundle/bundle_factory.hpp"
#include "platform/bundle/embedded_bundles.hpp"
#include "platform/bundle/strings_table.hpp"
#include "json/lenient.hpp"

#include <algorithm>
#include <fstream>
#include <map>

namespace kestrel::platform {

namespace {

// Larger files are not resource files of ours; they are left unread rather than held in memory.
constexpr std::uintmax_t maxResourceFileSize = 16u << 20;

constexpr std::string_view infoFileName = "Info.json";
constexpr std::string_view tableFileName = "Localizable.strings";
constexpr std::string_view localizationExtension = ".lproj";

std::string normalizedTag(std::string_view tag) {
    std::string out;
    out.reserve(tag.size());
    for (char c : tag) {
        if (c == '_') c = '-';
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        out.push_back(c);
    }
    return out;
}

std::optional<std::string> readFile(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size > maxResourceFileSize) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string data(static_cast<std::size_t>(size), '\0');
    in.read(data.data(), static_cast<std::streamsize>(data.size()));
    if (in.gcount() != static_cast<std::streamsize>(data.size())) return std::nullopt;
    return data;
}

} // namespace

struct Bundle::Impl {
    struct Localization {
        std::string name;       // as the folder spells it
        std::string normalized; // for matching
        StringsTable table;
    };

    std::filesystem::path path;
    bool embedded = false;
    std::optional<JsonValue> info;
    std::vector<Localization> localizations; // sorted by name

    const Localization* find(std::string_view tag) const {
        const auto wanted = normalizedTag(tag);
        for (const auto& l : localizations)
            if (l.normalized == wanted) return &l;
        return nullptr;
    }

    // The table for a tag or, failing that, for its shorter forms ("zh-Hant-TW", "zh-Hant", "zh").
    const Localization* findWithFallback(std::string_view tag) const {
        while (!tag.empty()) {
            if (const auto* l = find(tag)) return l;
            const auto cut = tag.find_last_of("-_");
            if (cut == std::string_view::npos) break;
            tag = tag.substr(0, cut);
        }
        return nullptr;
    }
};

Bundle::Bundle(std::unique_ptr<const Impl> impl) : impl_(std::move(impl)) {}
Bundle::~Bundle() = default;

std::shared_ptr<const Bundle> BundleFactory::make(std::filesystem::path path, bool embedded,
                                                  std::optional<std::string_view> info,
                                                  const std::vector<Table>& tables) {
    auto impl = std::make_unique<Bundle::Impl>();
    impl->path = std::move(path);
    impl->embedded = embedded;
    if (info) {
        auto parsed = json::parseDocument(*info);
        if (parsed && parsed->is_object()) impl->info = std::move(*parsed);
    }
    for (const auto& t : tables) {
        auto table = parseStringsTable(t.bytes);
        // A malformed table, or one without entries, is no translation: the next preferred
        // language or the development language answers instead of the raw keys.
        if (!table || table->empty() || t.language.empty()) continue;
        impl->localizations.push_back({t.language, normalizedTag(t.language), std::move(*table)});
    }
    std::sort(impl->localizations.begin(), impl->localizations.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    return std::shared_ptr<const Bundle>(new Bundle(std::move(impl)));
}

std::shared_ptr<const Bundle> BundleFactory::fromInfo(std::optional<JsonValue> info) {
    auto impl = std::make_unique<Bundle::Impl>();
    if (info && info->is_object()) impl->info = std::move(*info);
    return std::shared_ptr<const Bundle>(new Bundle(std::move(impl)));
}

std::shared_ptr<const Bundle> BundleFactory::read(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_directory(path, ec)) return nullptr;
    const auto info = readFile(path / infoFileName);

    // The table bytes must outlive make(), which only sees views of them.
    std::vector<std::string> contents;
    std::vector<std::string> languages;
    std::filesystem::directory_iterator it(path, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const auto& entry = *it;
        const auto name = entry.path().filename().string();
        if (!name.ends_with(localizationExtension) || !entry.is_directory(ec)) continue;
        auto bytes = readFile(entry.path() / tableFileName);
        if (!bytes) continue;
        languages.push_back(name.substr(0, name.size() - localizationExtension.size()));
        contents.push_back(std::move(*bytes));
    }
    std::vector<Table> tables;
    for (std::size_t i = 0; i < languages.size(); ++i)
        tables.push_back({languages[i], contents[i]});
    return make(path, false, info ? std::optional<std::string_view>(*info) : std::nullopt, tables);
}

std::vector<std::shared_ptr<const Bundle>>
BundleFactory::readFolder(const std::filesystem::path& folder) {
    std::vector<std::shared_ptr<const Bundle>> bundles;
    std::error_code ec;
    if (folder.extension() == ".bundle") {
        if (auto bundle = read(folder)) bundles.push_back(std::move(bundle));
        return bundles;
    }
    std::vector<std::filesystem::path> paths;
    std::filesystem::directory_iterator it(folder, ec), end;
    for (; !ec && it != end; it.increment(ec))
        if (it->path().extension() == ".bundle") paths.push_back(it->path());
    std::sort(paths.begin(), paths.end());
    for (const auto& p : paths)
        if (auto bundle = read(p)) bundles.push_back(std::move(bundle));
    return bundles;
}

std::vector<std::shared_ptr<const Bundle>> BundleFactory::embedded() {
    // Group the files by their bundle folder: "<Name>.bundle/Info.json" and
    // "<Name>.bundle/<language>.lproj/Localizable.strings".
    struct Parts {
        std::optional<std::string_view> info;
        std::vector<Table> tables;
    };
    std::map<std::string_view, Parts> byBundle;
    for (const auto& file : embeddedBundleFiles()) {
        const auto slash = file.path.find('/');
        if (slash == std::string_view::npos) continue;
        const auto folder = file.path.substr(0, slash);
        const auto rest = file.path.substr(slash + 1);
        if (!folder.ends_with(".bundle")) continue;
        auto& parts = byBundle[folder];
        if (rest == infoFileName) {
            parts.info = file.contents;
            continue;
        }
        const auto second = rest.find('/');
        if (second == std::string_view::npos) continue;
        const auto lproj = rest.substr(0, second);
        if (rest.substr(second + 1) != tableFileName || !lproj.ends_with(localizationExtension))
            continue;
        parts.tables.push_back(
            {std::string(lproj.substr(0, lproj.size() - localizationExtension.size())),
             file.contents});
    }
    std::vector<std::shared_ptr<const Bundle>> bundles;
    for (const auto& [folder, parts] : byBundle)
        bundles.push_back(make({}, true, parts.info, parts.tables));
    return bundles;
}

std::shared_ptr<const Bundle> Bundle::atPath(const std::filesystem::path& path) {
    return BundleFactory::read(path);
}

const std::optional<JsonValue>& Bundle::infoDictionary() const { return impl_->info; }

std::optional<std::string> Bundle::bundleIdentifier() const {
    return impl_->info ? json::readText(*impl_->info, "CFBundleIdentifier") : std::nullopt;
}

std::string Bundle::developmentLocalization() const {
    if (impl_->info) {
        if (auto region = json::readText(*impl_->info, "CFBundleDevelopmentRegion")) return *region;
    }
    return "en";
}

std::vector<std::string> Bundle::localizations() const {
    std::vector<std::string> names;
    for (const auto& l : impl_->localizations) names.push_back(l.name);
    return names;
}

const std::filesystem::path& Bundle::bundlePath() const { return impl_->path; }

bool Bundle::isEmbedded() const { return impl_->embedded; }

std::optional<std::string>
Bundle::preferredLocalization(const std::vector<std::string>& preferredLanguages) const {
    for (const auto& tag : preferredLanguages)
        if (const auto* l = impl_->findWithFallback(tag)) return l->name;
    if (const auto* l = impl_->findWithFallback(developmentLocalization())) return l->name;
    return std::nullopt;
}

std::string Bundle::localizedString(std::string_view key,
                                    const std::vector<std::string>& preferredLanguages) const {
    const auto name = preferredLocalization(preferredLanguages);
    if (!name) return std::string(key);
    const auto* l = impl_->find(*name);
    const auto it = l->table.find(key);
    return it == l->table.end() ? std::string(key) : it->second;
}

std::string Bundle::localizedString(std::string_view key) const {
    return localizedString(key, Locale::preferredLanguages());
}

} // namespace kestrel::platform
