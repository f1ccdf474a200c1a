// Points the library's three service addresses at a test server. Works only in a process that
// has not read its configuration yet (a fresh process, see fresh_process.hpp).
#pragma once

#include <kestrel/config/bundle_identifier.hpp>
#include <kestrel/platform/bundle.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace kestrel::testing {

// Writes a copy of the library's bundle whose addresses start with `base` ("http://127.0.0.1:N")
// into `folder` and puts it before the built-in one; `extra` adds or replaces other entries.
inline void useServiceAt(const std::filesystem::path& folder, const std::string& base,
                         const JsonValue& extra = JsonValue::object()) {
    const auto builtIn = platform::Bundle::withIdentifier(kestrelBundleIdentifier);
    ASSERT_TRUE(builtIn && builtIn->infoDictionary());
    JsonValue info = *builtIn->infoDictionary();
    info["SDK_CLICKS_URL"] = base + "/v1/clicks";
    info["SDK_PICTURES_SEARCH_URL"] = base + "/v1/pictures/search";
    info["SDK_ENRICHED_IMAGE_URL"] = base + "/v1/enriched-images";
    info.update(extra);
    const auto bundle = folder / "KestrelUnderTest.bundle";
    std::filesystem::create_directories(bundle);
    std::ofstream(bundle / "Info.json") << info.dump();
    ASSERT_EQ(platform::Bundle::addSearchFolder(folder), 1u);
}

} // namespace kestrel::testing
