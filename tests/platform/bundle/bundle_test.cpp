// Reading one bundle folder: its information dictionary, its string tables and the choice of
// table for the user's languages.
#include <kestrel/platform/bundle.hpp>

#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

using kestrel::platform::Bundle;
using kestrel::testing::TempDir;

namespace {

// A bundle with tables for de, fr, pt_BR and en-GB (one key missing in fr), a malformed es table
// and a folder without table.
class BundleFolder : public ::testing::Test {
protected:
    void SetUp() override {
        folder.write(
            "Test.bundle/Info.json",
            R"({"CFBundleIdentifier": "org.example.Test", "CFBundleDevelopmentRegion": "de"})");
        folder.write("Test.bundle/de.lproj/Localizable.strings",
                     "\"hello\" = \"Hallo\";\n\"bye\" = \"Tschüss\";");
        folder.write("Test.bundle/fr.lproj/Localizable.strings", "\"hello\" = \"Bonjour\";");
        folder.write("Test.bundle/pt_BR.lproj/Localizable.strings", "\"hello\" = \"Olá\";");
        folder.write("Test.bundle/en-GB.lproj/Localizable.strings", "\"hello\" = \"Hello\";");
        folder.write("Test.bundle/es.lproj/Localizable.strings", "\"hello\" = \"Hola\"");
        std::filesystem::create_directories(folder.path() / "Test.bundle/it.lproj");
        folder.write("Test.bundle/nl.lproj/Localizable.strings", "/* nothing yet */\n");
        folder.write("Test.bundle/sv.lproj/Localizable.strings", "\xEF\xBB\xBF");
        bundle = Bundle::atPath(folder.path() / "Test.bundle");
        ASSERT_TRUE(bundle);
    }

    std::string hello(std::vector<std::string> languages) const {
        return bundle->localizedString("hello", languages);
    }

    TempDir folder;
    std::shared_ptr<const Bundle> bundle;
};

} // namespace

TEST_F(BundleFolder, TableChoiceFollowsPreferredLanguages) {
    EXPECT_EQ(bundle->bundleIdentifier(), "org.example.Test");
    EXPECT_EQ(bundle->localizations(), (std::vector<std::string>{"de", "en-GB", "fr", "pt_BR"}));
    EXPECT_EQ(hello({"fr-CA"}), "Bonjour");      // region falls back to the language
    EXPECT_EQ(hello({"fr-Latn-CA"}), "Bonjour"); // and so do script and region together
    EXPECT_EQ(hello({"PT-br"}), "Olá");          // '-' and '_' match, letter case does not matter
    EXPECT_EQ(hello({"en-GB"}), "Hello");
    EXPECT_EQ(hello({"ja", "fr"}), "Bonjour"); // the first language the bundle has
    EXPECT_EQ(hello({"ja"}), "Hallo");         // else the development language
    EXPECT_EQ(hello({"es"}), "Hallo");         // a malformed table is not offered
    EXPECT_EQ(hello({"it"}), "Hallo");         // nor a folder without table
    EXPECT_EQ(hello({"nl", "fr"}), "Bonjour"); // nor a table without entries
    EXPECT_EQ(hello({"sv"}), "Hallo");         // (a byte-order mark alone included)
    EXPECT_EQ(bundle->preferredLocalization({"pt-PT", "en"}), "de"); // no "pt" nor "en" table
}

TEST_F(BundleFolder, MissingKeyGivesTheKeyFromTheChosenTable) {
    EXPECT_EQ(bundle->localizedString("bye", {"de"}), "Tschüss");
    // The French table lacks the key: the key comes back, not another language's text.
    EXPECT_EQ(bundle->localizedString("bye", {"fr"}), "bye");
}

TEST(BundleReading, BrokenInformationDictionaryStillHasItsTables) {
    TempDir folder;
    folder.write("x.bundle/Info.json", "{\"CFBundleIdentifier\": \"\xFF\"}"); // not UTF-8
    folder.write("x.bundle/en.lproj/Localizable.strings", "\"k\" = \"v\";");
    const auto bundle = Bundle::atPath(folder.path() / "x.bundle");
    ASSERT_TRUE(bundle);
    EXPECT_FALSE(bundle->infoDictionary());
    EXPECT_FALSE(bundle->bundleIdentifier());
    EXPECT_EQ(bundle->localizedString("k", {"fr"}), "v");           // "en" as development language
    folder.write("y.bundle/Info.json", "[\"CFBundleIdentifier\"]"); // JSON, but not an object
    EXPECT_FALSE(Bundle::atPath(folder.path() / "y.bundle")->infoDictionary());

    EXPECT_FALSE(Bundle::atPath(folder.path() / "missing.bundle"));
    EXPECT_FALSE(Bundle::atPath(folder.write("file.bundle", "{}")));
}
