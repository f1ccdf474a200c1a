// How bundles are made: read from a folder, or from the copies compiled into the library.
#pragma once

#include <kestrel/platform/bundle.hpp>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::platform {

struct BundleFactory {
    struct Table {
        std::string language;   // the name of the .lproj folder without extension
        std::string_view bytes; // the raw Localizable.strings file
    };

    // A bundle from the raw bytes of its Info.json (absent when there is none) and of its tables.
    static std::shared_ptr<const Bundle> make(std::filesystem::path path, bool embedded,
                                              std::optional<std::string_view> info,
                                              const std::vector<Table>& tables);
    // A bundle made of a parsed information dictionary alone.
    static std::shared_ptr<const Bundle> fromInfo(std::optional<JsonValue> info);
    // Reads a bundle folder; null when `path` is not a folder.
    static std::shared_ptr<const Bundle> read(const std::filesystem::path& path);
    // The bundle folders inside `folder` (or `folder` itself when it is a ".bundle" folder),
    // sorted by name.
    static std::vector<std::shared_ptr<const Bundle>>
    readFolder(const std::filesystem::path& folder);
    // The bundles compiled into the library, made anew on each call.
    static std::vector<std::shared_ptr<const Bundle>> embedded();
};

} // namespace kestrel::platform
