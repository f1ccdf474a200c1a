// The resource bundles compiled into the library: every file under resources/*.bundle/, turned
// into data at build time (embedded_bundles.cpp is generated into the build folder).
#pragma once

#include <span>
#include <string_view>

namespace kestrel::platform {

struct EmbeddedFile {
    std::string_view path;     // relative to resources/, '/'-separated: "Name.bundle/Info.json"
    std::string_view contents; // the file's bytes
};

// Sorted by path.
std::span<const EmbeddedFile> embeddedBundleFiles();

} // namespace kestrel::platform
