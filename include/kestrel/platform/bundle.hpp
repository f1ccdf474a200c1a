/// \file
/// Resource bundles: a folder `<Name>.bundle` holding an information dictionary (Info.json) and
/// one string table per language (`<language>.lproj/Localizable.strings`), found by identifier
/// among the bundles the library has loaded; and the host application's main bundle.
#pragma once

#include <kestrel/json.hpp>

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::platform {

/// A resource bundle: an information dictionary and string tables per language.
/// A loaded bundle never changes; it can be read from any thread without a lock. The static calls
/// that load, find and unload bundles may be called from any thread at any time. Nothing here
/// throws for a missing, unreadable or malformed file: a broken Info.json leaves the bundle without
/// information dictionary, a broken string table leaves out that language.
class Bundle {
public:
    ~Bundle();
    Bundle(const Bundle&) = delete;
    Bundle& operator=(const Bundle&) = delete;

    // --- Finding bundles ----------------------------------------------------------------------

    /// The loaded bundle whose information dictionary has the text `identifier` under
    /// "CFBundleIdentifier", or null. Looks first in the folders given to addSearchFolder (the last
    /// one added first), then in the install location, then among the bundles compiled into the
    /// library. The install location is read on the first call that gets that far, on the
    /// caller's thread.
    static std::shared_ptr<const Bundle> withIdentifier(std::string_view identifier);

    /// Loads every `<Name>.bundle` folder directly inside `folder` (or `folder` itself when its
    /// name ends in ".bundle"), on the caller's thread. Its bundles are found before every bundle
    /// loaded earlier. Returns how many bundles it loaded; a missing or unreadable folder loads
    /// none.
    static std::size_t addSearchFolder(const std::filesystem::path& folder);

    /// The folder searched after those of addSearchFolder; by default the library's installed data
    /// folder (`<prefix>/share/kestrel`). An empty path searches no install location. The folder is
    /// read again at the next look-up.
    static void setInstallLocation(std::filesystem::path folder);
    /// The folder searched after those of addSearchFolder (see setInstallLocation).
    static std::filesystem::path installLocation();

    /// Forgets every loaded bundle and search folder, leaves the install location empty and stops
    /// using the bundles compiled into the library: withIdentifier then finds only bundles of
    /// folders added afterwards. For tests of a library without its resources. Bundles already
    /// handed out stay valid.
    static void unloadAll();
    /// Back to the state at start: no added folders, the default install location, the compiled-in
    /// bundles in use.
    static void restoreDefaults();

    /// The host application's bundle. Its information dictionary is the one the host gave to
    /// setMainInfoDictionary (at least "CFBundleName" and "CFBundleShortVersionString" are
    /// expected), else an empty object. Never null.
    static std::shared_ptr<const Bundle> main();
    /// Sets the main bundle's information dictionary; a value that is not a JSON object gives an
    /// empty one. Bundles returned by main() before stay as they were.
    static void setMainInfoDictionary(JsonValue info);

    /// Reads the bundle folder at `path` without registering it. Null when `path` is not a folder.
    static std::shared_ptr<const Bundle> atPath(const std::filesystem::path& path);

    // --- One bundle ---------------------------------------------------------------------------

    /// The parsed Info.json when it is a JSON object; absent when the file is missing, unreadable,
    /// not valid JSON or not an object.
    const std::optional<JsonValue>& infoDictionary() const;
    /// "CFBundleIdentifier" of the information dictionary when it is a text.
    std::optional<std::string> bundleIdentifier() const;
    /// "CFBundleDevelopmentRegion" when it is a text, else "en": the language used when none of
    /// the user's languages has a table.
    std::string developmentLocalization() const;
    /// The languages with a readable, well-formed string table, sorted ("de", "en", "fr-CA").
    std::vector<std::string> localizations() const;
    /// The folder the bundle was read from; empty for a bundle compiled into the library or made
    /// from an information dictionary alone.
    const std::filesystem::path& bundlePath() const;
    /// True for the copies compiled into the library.
    bool isEmbedded() const;

    /// The text of `key` in the string table chosen for the user's preferred languages
    /// (Locale::preferredLanguages); the key itself when no table is chosen or the chosen table
    /// lacks the key.
    std::string localizedString(std::string_view key) const;
    /// The same for a given list of language tags, most wanted first.
    std::string localizedString(std::string_view key,
                                const std::vector<std::string>& preferredLanguages) const;
    /// The language whose table serves `preferredLanguages`: the first preferred language the
    /// bundle has, a tag with region or script falling back to its shorter forms ("fr-CA" to "fr"),
    /// then the development language; absent when the bundle has none of them. Tags match without
    /// regard to letter case or '-' versus '_'.
    std::optional<std::string>
    preferredLocalization(const std::vector<std::string>& preferredLanguages) const;

private:
    struct Impl;
    explicit Bundle(std::unique_ptr<const Impl> impl);
    friend struct BundleFactory;
    std::unique_ptr<const Impl> impl_;
};

} // namespace kestrel::platform
