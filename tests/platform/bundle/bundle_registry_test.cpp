// Finding bundles by identifier among added folders, the install location and the copies
// compiled into the library; unloading them.
#include <kestrel/config/bundle_identifier.hpp>
#include <kestrel/platform/bundle.hpp>

#include "platform/bundle/embedded_bundles.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

using kestrel::JsonValue;
using kestrel::kestrelBundleIdentifier;
using kestrel::platform::Bundle;
using kestrel::testing::TempDir;

namespace {

std::string infoWith(std::string_view identifier, std::string_view marker) {
    return JsonValue{{"CFBundleIdentifier", identifier}, {"Marker", marker}}.dump();
}

std::string markerOf(const std::shared_ptr<const Bundle>& bundle) {
    if (!bundle || !bundle->infoDictionary()) return "<none>";
    return bundle->infoDictionary()->value("Marker", "<no marker>");
}

// Each test starts with no installed copy, so that one left on the machine by an install cannot
// change what the tests see.
class BundleRegistry : public ::testing::Test {
protected:
    void SetUp() override {
        Bundle::restoreDefaults();
        Bundle::setInstallLocation(emptyInstall.path());
    }
    void TearDown() override { Bundle::restoreDefaults(); }

    TempDir emptyInstall;
};

} // namespace

TEST_F(BundleRegistry, EmbeddedCopyServesWhenNoFolderHasTheBundle) {
    const auto bundle = Bundle::withIdentifier(kestrelBundleIdentifier);
    ASSERT_TRUE(bundle);
    EXPECT_TRUE(bundle->isEmbedded());
    EXPECT_EQ(bundle->localizations(), (std::vector<std::string>{"de", "en", "es", "fr"}));
    EXPECT_EQ(bundle->localizedString("request.error.parameters", {"de"}),
              "Der Anfrage fehlen das Foto oder die Sprache.");
    // Found again, the same loaded bundle comes back.
    EXPECT_EQ(Bundle::withIdentifier(kestrelBundleIdentifier), bundle);
}

TEST(EmbeddedBundles, AreByteForByteTheResourceFiles) {
    const std::filesystem::path resources = KESTREL_TEST_RESOURCES_DIR;
    std::vector<std::string> onDisk;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(resources)) {
        const auto relative = std::filesystem::relative(entry.path(), resources).generic_string();
        if (entry.is_regular_file() && relative.find(".bundle/") != std::string::npos)
            onDisk.push_back(relative);
    }
    std::sort(onDisk.begin(), onDisk.end());

    std::vector<std::string> embedded;
    for (const auto& file : kestrel::platform::embeddedBundleFiles()) {
        embedded.emplace_back(file.path);
        std::ifstream in(resources / file.path, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        EXPECT_EQ(bytes.str(), file.contents) << file.path;
    }
    EXPECT_EQ(embedded, onDisk);
}

TEST_F(BundleRegistry, InstalledCopyComesBeforeTheEmbeddedOne) {
    TempDir install;
    install.write("KestrelSDKLight.bundle/Info.json",
                  infoWith(kestrelBundleIdentifier, "installed"));
    Bundle::setInstallLocation(install.path());
    const auto bundle = Bundle::withIdentifier(kestrelBundleIdentifier);
    EXPECT_EQ(markerOf(bundle), "installed");
    EXPECT_EQ(bundle->bundlePath(), install.path() / "KestrelSDKLight.bundle");
}

TEST_F(BundleRegistry, AddedFoldersComeFirstTheLastAddedFirstOfAll) {
    TempDir install, first, second;
    install.write("A.bundle/Info.json", infoWith("org.example.A", "installed"));
    first.write("A.bundle/Info.json", infoWith("org.example.A", "first"));
    first.write("B.bundle/Info.json", infoWith("org.example.B", "first"));
    first.write("not-a-bundle/Info.json", infoWith("org.example.C", "first"));
    second.write("Other.bundle/Info.json", infoWith("org.example.A", "second"));
    second.write("Own.bundle/Info.json", infoWith("org.example.B", "own"));
    Bundle::setInstallLocation(install.path());

    EXPECT_EQ(Bundle::addSearchFolder(first.path()), 2u);
    EXPECT_EQ(markerOf(Bundle::withIdentifier("org.example.A")), "first");
    EXPECT_EQ(Bundle::addSearchFolder(second.path()), 2u);
    EXPECT_EQ(markerOf(Bundle::withIdentifier("org.example.A")), "second");
    // A bundle folder itself can be added too.
    EXPECT_EQ(Bundle::addSearchFolder(first.path() / "B.bundle"), 1u);
    EXPECT_EQ(markerOf(Bundle::withIdentifier("org.example.B")), "first");
    EXPECT_FALSE(Bundle::withIdentifier("org.example.C")); // only "<Name>.bundle" folders count
}

TEST_F(BundleRegistry, UnloadAllForgetsEverythingUntilRestored) {
    TempDir install, added;
    install.write("I.bundle/Info.json", infoWith("org.example.I", "installed"));
    added.write("A.bundle/Info.json", infoWith("org.example.A", "added"));
    Bundle::setInstallLocation(install.path());
    Bundle::addSearchFolder(added.path());
    const auto held = Bundle::withIdentifier("org.example.A");
    ASSERT_TRUE(held);

    Bundle::unloadAll();
    EXPECT_FALSE(Bundle::withIdentifier(kestrelBundleIdentifier));
    EXPECT_FALSE(Bundle::withIdentifier("org.example.I"));
    EXPECT_FALSE(Bundle::withIdentifier("org.example.A"));
    EXPECT_EQ(markerOf(held), "added"); // what was handed out stays valid

    Bundle::restoreDefaults();
    EXPECT_FALSE(Bundle::withIdentifier("org.example.A"));
    EXPECT_EQ(Bundle::installLocation(), std::filesystem::path(KESTREL_DATADIR_FOR_TESTS));
}
