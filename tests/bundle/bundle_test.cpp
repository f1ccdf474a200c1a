// Reading one bundle folder: its information dictionary, its string tables and the choice of
// table for the user's languages.
#include <kestrel/platform/bundle.hpp>
#include <kestrel/platform/locale.hpp>

#include "support/temp_folder.hpp"

#include <gtest/gtest.h>

using kestrel::JsonValue;
using kestrel::platform::Bundle;
using kestrel::testing::TempFolder;

namespace {

constexpr const char* infoJson = R"({
    "CFBundleIdentifier": "org.example.Test",
    "CFBundleDevelopmentRegion": "de",
    "Number": 3
})";

// A bundle with tables for de, fr, pt_BR and en-GB (one key missing in fr), a malformed es table
// and a folder without table.
class BundleFolder : public ::testing::Test {
protected:
    void SetUp() override {
        folder.write("Test.bundle/Info.json", infoJson);
        folder.write("Test.bundle/de.lproj/Localizable.strings",
                     "\"hello\" = \"Hallo\";\n\"bye\" = \"Tschüss\";");
        folder.write("Test.bundle/fr.lproj/Localizable.strings", "\"hello\" = \"Bonjour\";");
        folder.write("Test.bundle/pt_BR.lproj/Localizable.strings", "\"hello\" = \"Olá\";");
        folder.write("Test.bundle/en-GB.lproj/Localizable.strings", "\"hello\" = \"Hello\";");
        folder.write("Test.bundle/es.lproj/Localizable.strings", "\"hello\" = \"Hola\"");
        std::filesystem::create_directories(folder.path() / "Test.bundle/it.lproj");
        bundle = Bundle::atPath(folder.path() / "Test.bundle");
        ASSERT_TRUE(bundle);
    }

    std::string hello(std::vector<std::string> languages) const {
        return bundle->localizedString("hello", languages);
    }

    TempFolder folder;
    std::shared_ptr<const Bundle> bundle;
};

} // namespace

TEST_F(BundleFolder, InformationDictionaryAndIdentity) {
    ASSERT_TRUE(bundle->infoDictionary());
    EXPECT_EQ(bundle->infoDictionary()->at("Number"), 3);
    EXPECT_EQ(bundle->bundleIdentifier(), "org.example.Test");
    EXPECT_EQ(bundle->developmentLocalization(), "de");
    EXPECT_EQ(bundle->bundlePath(), folder.path() / "Test.bundle");
    EXPECT_FALSE(bundle->isEmbedded());
}

TEST_F(BundleFolder, OnlyWellFormedTablesAreLocalizations) {
    EXPECT_EQ(bundle->localizations(), (std::vector<std::string>{"de", "en-GB", "fr", "pt_BR"}));
}

TEST_F(BundleFolder, TableChoiceFollowsPreferredLanguages) {
    EXPECT_EQ(hello({"fr"}), "Bonjour");
    EXPECT_EQ(hello({"fr-CA"}), "Bonjour");      // region falls back to the language
    EXPECT_EQ(hello({"fr-Latn-CA"}), "Bonjour"); // and so do script and region together
    EXPECT_EQ(hello({"pt-BR"}), "Olá");          // '-' and '_' match each other
    EXPECT_EQ(hello({"PT_br"}), "Olá");          // letter case does not matter
    EXPECT_EQ(hello({"en-GB"}), "Hello");
    EXPECT_EQ(hello({"ja", "fr"}), "Bonjour"); // the first language the bundle has
    EXPECT_EQ(hello({"ja"}), "Hallo");         // else the development language
    EXPECT_EQ(hello({"es"}), "Hallo");         // a malformed table is not offered
    EXPECT_EQ(hello({"it"}), "Hallo");         // nor a folder without table
    EXPECT_EQ(hello({}), "Hallo");
    EXPECT_EQ(bundle->preferredLocalization({"pt-PT", "en"}), "de"); // no "pt" nor "en" table
}

TEST_F(BundleFolder, MissingKeyGivesTheKeyFromTheChosenTable) {
    EXPECT_EQ(bundle->localizedString("bye", {"de"}), "Tschüss");
    // The French table lacks the key: the key comes back, not another language's text.
    EXPECT_EQ(bundle->localizedString("bye", {"fr"}), "bye");
    EXPECT_EQ(bundle->localizedString("unknown.key", {"de"}), "unknown.key");
    EXPECT_EQ(bundle->localizedString("", {"de"}), "");
}

TEST_F(BundleFolder, DefaultLanguagesComeFromTheLocale) {
    kestrel::platform::Locale::setPreferredLanguages({"fr-BE"});
    EXPECT_EQ(bundle->localizedString("hello"), "Bonjour");
    kestrel::platform::Locale::setPreferredLanguages({});
}

TEST(BundleReading, BrokenInformationDictionaries) {
    TempFolder folder;
    const std::vector<std::pair<std::string, std::string>> infos = {
        {"invalid", "{\"CFBundleIdentifier\": "},
        {"array", R"(["CFBundleIdentifier", "x"])"},
        {"text", R"("x")"},
        {"empty", ""},
        {"bad-utf8", "{\"CFBundleIdentifier\": \"\xFF\"}"},
    };
    for (const auto& [name, text] : infos) {
        folder.write(name + ".bundle/Info.json", text);
        folder.write(name + ".bundle/en.lproj/Localizable.strings", "\"k\" = \"v\";");
        const auto bundle = Bundle::atPath(folder.path() / (name + ".bundle"));
        ASSERT_TRUE(bundle) << name;
        EXPECT_FALSE(bundle->infoDictionary()) << name;
        EXPECT_FALSE(bundle->bundleIdentifier()) << name;
        // The tables are still read, with "en" as development language.
        EXPECT_EQ(bundle->localizedString("k", {"fr"}), "v") << name;
    }
}

TEST(BundleReading, WrongTypedInformationEntries) {
    TempFolder folder;
    folder.write("x.bundle/Info.json",
                 R"({"CFBundleIdentifier": 12, "CFBundleDevelopmentRegion": ["fr"]})");
    const auto bundle = Bundle::atPath(folder.path() / "x.bundle");
    ASSERT_TRUE(bundle);
    ASSERT_TRUE(bundle->infoDictionary());
    EXPECT_FALSE(bundle->bundleIdentifier());
    EXPECT_EQ(bundle->developmentLocalization(), "en");
}

TEST(BundleReading, MissingFilesAndPaths) {
    TempFolder folder;
    std::filesystem::create_directories(folder.path() / "bare.bundle");
    const auto bare = Bundle::atPath(folder.path() / "bare.bundle");
    ASSERT_TRUE(bare);
    EXPECT_FALSE(bare->infoDictionary());
    EXPECT_TRUE(bare->localizations().empty());
    EXPECT_EQ(bare->localizedString("k", {"en"}), "k");

    EXPECT_FALSE(Bundle::atPath(folder.path() / "missing.bundle"));
    EXPECT_FALSE(Bundle::atPath(folder.write("file.bundle", "{}")));
    EXPECT_FALSE(Bundle::atPath(""));
}
