// The statistics come from counts kept as sessions and clicks are recorded: reading them does
// not wait for a click in progress, and a file written before the counts were kept is counted
// when it is opened.
#include "catalogue_store.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace kestrel::testing {
namespace {

void execute(sqlite3* db, const char* sql) {
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
}

std::int64_t clicks(const devservice::CatalogueStore& store, std::optional<std::string> key) {
    return store.stats(key).at(0).actions.at(0).clicks;
}

TEST(Statistics, AreReadWhileAClickWaitsForTheFileAndCountWhatWasThereBefore) {
    TempDir folder;
    const auto file = folder / "store.sqlite";
    devservice::Page page;
    page.id = "p";
    page.image = {0xFF, 0xD8}; // never decoded here
    page.actions.push_back({"a", "Read", "URL", {}, {}, {}, {}, {}, {}});
    devservice::CatalogueStore(file).putPage(page);

    // Sessions and a click as a version without counts wrote them.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    execute(db, "INSERT INTO sessions VALUES ('s1', 'p', 'k', 0), ('s2', 'p', 'other', 0);"
                "INSERT INTO clicks VALUES ('s1', 'a', 0);"
                "DELETE FROM session_counts; DELETE FROM click_counts; PRAGMA user_version = 0;");
    devservice::CatalogueStore store(file);
    EXPECT_EQ(store.stats("k").at(0).sessions, 1);
    EXPECT_EQ(store.stats().at(0).sessions, 2);
    EXPECT_EQ(clicks(store, "k"), 1);
    EXPECT_EQ(clicks(store, "other"), 0);

    // Another program holds the file's write lock: a click waits for it, the statistics do not.
    execute(db, "BEGIN IMMEDIATE");
    std::atomic<bool> clickFinished{false};
    devservice::ClickOutcome outcome{};
    std::thread clicker([&] {
        try {
            outcome = store.recordClick("s1", "a", "k");
        } catch (const std::exception& error) {
            ADD_FAILURE() << error.what();
        }
        clickFinished = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the click reaches the lock
    EXPECT_EQ(clicks(store, "k"), 1);
    EXPECT_FALSE(clickFinished) << "the statistics waited for the click";
    execute(db, "COMMIT");
    clicker.join();
    EXPECT_EQ(outcome, devservice::ClickOutcome::counted);
    EXPECT_EQ(clicks(store, "k"), 2);
    EXPECT_EQ(clicks(store, std::nullopt), 2);
    sqlite3_close(db);
}

} // namespace
} // namespace kestrel::testing
