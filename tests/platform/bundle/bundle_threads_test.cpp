// Loading, finding and unloading bundles, and changing the main bundle and the languages, from
// several threads at once.
#include <kestrel/config/bundle_identifier.hpp>
#include <kestrel/platform/bundle.hpp>
#include <kestrel/platform/locale.hpp>

#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using kestrel::JsonValue;
using kestrel::platform::Bundle;
using kestrel::platform::Locale;

TEST(BundleThreads, ConcurrentLoadsLookupsAndUnloads) {
    kestrel::testing::TempDir folder;
    folder.write("A.bundle/Info.json", R"({"CFBundleIdentifier": "org.example.A"})");
    folder.write("A.bundle/fr.lproj/Localizable.strings", R"("k" = "fr";)");
    folder.write("A.bundle/en.lproj/Localizable.strings", R"("k" = "en";)");
    Bundle::restoreDefaults();
    Bundle::setInstallLocation(folder.path() / "no-install");

    constexpr int rounds = 200;
    std::atomic<int> wrongAnswers{0};
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        for (int i = 0; i < rounds; ++i) {
            Bundle::addSearchFolder(folder.path());
            if (i % 10 == 0) Bundle::unloadAll();
            if (i % 10 == 5) Bundle::restoreDefaults();
        }
    });
    threads.emplace_back([&] {
        for (int i = 0; i < rounds; ++i) {
            Bundle::setMainInfoDictionary({{"CFBundleName", "Host"}, {"Round", i}});
            Locale::setPreferredLanguages(i % 2 ? std::vector<std::string>{"fr"}
                                                : std::vector<std::string>{});
        }
    });
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < rounds; ++i) {
                if (const auto a = Bundle::withIdentifier("org.example.A")) {
                    const auto text = a->localizedString("k");
                    if (text != "fr" && text != "en") ++wrongAnswers;
                }
                if (const auto own = Bundle::withIdentifier(kestrel::kestrelBundleIdentifier))
                    if (own->localizations().size() != 4) ++wrongAnswers;
                if (Bundle::main()->infoDictionary()->value("CFBundleName", "Host") != "Host")
                    ++wrongAnswers;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrongAnswers.load(), 0);

    Bundle::restoreDefaults();
    Locale::setPreferredLanguages({});
    EXPECT_TRUE(Bundle::withIdentifier(kestrel::kestrelBundleIdentifier));
}
