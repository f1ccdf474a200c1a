// The catalogue file: filled from a folder of descriptions; its statistics come from counts kept
// as sessions and clicks are recorded, so reading them does not wait for a click in progress, and
// a file written before the counts were kept is counted when it is opened; the pages' features
// are kept in it for the next start. And the program's life:
// it serves the imported catalogue and stops cleanly on SIGINT and SIGTERM.
#include "running_service.hpp"

#include "catalogue.hpp"
#include "catalogue_store.hpp"
#include "page_description.hpp"
#include "page_painter.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace kestrel::testing {
namespace {

namespace fs = std::filesystem;

// A folder holding one sample page (its description, changed by edit, and its image). A member
// set to "@deep@" is written as an object nested 100 000 deep.
void writePage(const fs::path& folder, const std::function<void(nlohmann::json&)>& edit) {
    nlohmann::json page = samplePages().front().description;
    fs::copy_file(fs::path(KESTREL_DEVSERVICE_CATALOGUE) / page.at("image").get<std::string>(),
                  folder / page.at("image").get<std::string>(),
                  fs::copy_options::overwrite_existing);
    edit(page);
    std::string text = page.dump();
    if (const auto at = text.find("\"@deep@\""); at != std::string::npos) {
        std::string deep;
        for (int i = 0; i < 100'000; ++i) deep += "{\"a\":";
        deep += "{}" + std::string(100'000, '}');
        text.replace(at, 8, deep);
    }
    std::ofstream(folder / (page.at("id").get<std::string>() + ".json")) << text;
}

TEST(Import, ABrokenDescriptionStopsTheImportBeforeAnyPageIsWritten) {
    const fs::path sample = fs::path(KESTREL_DEVSERVICE_CATALOGUE) /
                            samplePages().front().description.at("image").get<std::string>();
    struct Breakage {
        const char* what;
        const char* says; // in the error
        std::function<void(nlohmann::json&, const fs::path&)> apply;
    };
    const std::vector<Breakage> breakages{
        {"unknown action type", "WEBSITE",
         [](nlohmann::json& p, auto&) { p["actions"][0]["type"] = "WEBSITE"; }},
        {"style given as text", "style",
         [](nlohmann::json& p, auto&) { p["actions"][0]["style"] = "{}"; }},
        {"missing image", "nowhere.jpg",
         [](nlohmann::json& p, auto&) { p["image"] = "nowhere.jpg"; }},
        {"image that is no picture", "not an image",
         [](nlohmann::json& p, auto&) { p["image"] = "catalogue.json"; }},
        {"two actions with one id", "two actions",
         [](nlohmann::json& p, auto&) { p["actions"][1]["id"] = p["actions"][0]["id"]; }},
        {"absolute image path", "relative", [&](nlohmann::json& p, auto&) { p["image"] = sample; }},
        {"image path leading up and out", "outside",
         [&](nlohmann::json& p, const fs::path& folder) {
             p["image"] = fs::relative(sample, folder).string();
         }},
        {"link to an image outside", "outside",
         [&](nlohmann::json& p, const fs::path& folder) {
             fs::create_symlink(sample, folder / "linked.jpg");
             p["image"] = "linked.jpg";
         }},
        {"folder as image", "not a regular file",
         [](nlohmann::json& p, const fs::path& folder) {
             fs::create_directory(folder / "folder.jpg");
             p["image"] = "folder.jpg";
         }},
        {"image over the size limit", "bytes",
         [](nlohmann::json& p, const fs::path& folder) {
             std::ofstream(folder / "huge.jpg").close();
             fs::resize_file(folder / "huge.jpg", 33u << 20); // sparse
             p["image"] = "huge.jpg";
         }},
        {"title style nested 100 000 deep", "nest",
         [](nlohmann::json& p, auto&) { p["titleStyle"] = "@deep@"; }},
        {"line break in the image name", "cannot read",
         [](nlohmann::json& p, auto&) { p["image"] = "image\n"; }},
    };
    for (const Breakage& breakage : breakages) {
        SCOPED_TRACE(breakage.what);
        TempDir folder;
        writePage(folder.path(), [](nlohmann::json& p) { p["id"] = "a-good-page"; });
        writePage(folder.path(), [&](nlohmann::json& p) {
            p["id"] = "z-broken-page";
            breakage.apply(p, folder.path());
        });
        std::ofstream(folder / "catalogue.json") << R"({"apiKeys": ["k"]})";
        devservice::CatalogueStore store(folder / "store.sqlite");
        try {
            devservice::importFolder(store, folder.path());
            ADD_FAILURE() << "imported";
        } catch (const std::runtime_error& error) {
            const std::string what = error.what();
            EXPECT_NE(what.find("z-broken-page.json"), std::string::npos) << what;
            EXPECT_NE(what.find(breakage.says), std::string::npos) << what;
            EXPECT_EQ(what.find('\n'), std::string::npos) << what;
        }
        EXPECT_TRUE(store.pages().empty());
        EXPECT_FALSE(store.isApiKey("k"));
    }
}

TEST(Import, ImportingAPageAgainReplacesItsActionsAndKeepsItsSessions) {
    TempDir folder;
    writePage(folder.path(), [](nlohmann::json&) {});
    devservice::CatalogueStore store(folder / "store.sqlite");
    devservice::importFolder(store, folder.path());
    const std::string id = store.pages().at(0).id;
    const std::string kept = store.pages().at(0).actions.at(1).id;
    const std::string session = store.openSession(id, "k");
    ASSERT_EQ(store.recordClick(session, kept, "k"), devservice::ClickOutcome::counted);

    writePage(folder.path(), [](nlohmann::json& p) {
        p["actions"].erase(0);
        p["actions"][0]["name"] = "Renamed";
    });
    devservice::importFolder(store, folder.path());
    const auto pages = store.pages();
    ASSERT_EQ(pages.size(), 1u);
    ASSERT_EQ(pages[0].actions.size(), samplePages().front().description["actions"].size() - 1);
    EXPECT_EQ(pages[0].actions[0].id, kept);
    EXPECT_EQ(pages[0].actions[0].name, "Renamed");
    const auto stats = store.stats();
    EXPECT_EQ(stats.at(0).sessions, 1);
    EXPECT_EQ(stats.at(0).actions.at(0).clicks, 1);
    EXPECT_EQ(store.recordClick(session, kept, "k"), devservice::ClickOutcome::counted);
}

void execute(sqlite3* db, const char* sql) {
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
}

struct KeptFeatures {
    std::string fingerprint;
    std::vector<unsigned char> record, look;
};

// The page_features rows of the file, by page id.
std::map<std::string, KeptFeatures> keptFeatures(const fs::path& file) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* query = nullptr;
    sqlite3_prepare_v2(db, "SELECT page_id, fingerprint, record, look FROM page_features", -1,
                       &query, nullptr);
    std::map<std::string, KeptFeatures> rows;
    while (query && sqlite3_step(query) == SQLITE_ROW) {
        const auto blob = [&](int column) {
            const auto* bytes =
                static_cast<const unsigned char*>(sqlite3_column_blob(query, column));
            return std::vector<unsigned char>(bytes, bytes + sqlite3_column_bytes(query, column));
        };
        rows[reinterpret_cast<const char*>(sqlite3_column_text(query, 0))] = {
            reinterpret_cast<const char*>(sqlite3_column_text(query, 1)), blob(2), blob(3)};
    }
    sqlite3_finalize(query);
    sqlite3_close(db);
    return rows;
}

// The id of the page the catalogue answers for a hand-held shot of image, "" for none.
std::string found(const devservice::Catalogue& catalogue, const cv::Mat& image,
                  std::mt19937& random) {
    const auto matches =
        catalogue.find(cv::imdecode(photograph(image, random), cv::IMREAD_COLOR), 1);
    return matches.empty() ? "" : matches.front().page->id;
}

// A start takes the pages' features from the file when they were taken the way its settings take
// them; otherwise (none kept, a record that does not read back, another image, other settings)
// from the image, and keeps them for the next start.
TEST(Features, AreKeptInTheFileAndTakenAgainWhenStale) {
    TempDir folder;
    const auto file = folder / "store.sqlite";
    devservice::CatalogueStore store(file);
    devservice::importFolder(store, KESTREL_DEVSERVICE_CATALOGUE);
    const auto& samples = samplePages();
    const std::string a = samples[0].description.at("id"), b = samples[1].description.at("id"),
                      c = samples[2].description.at("id");
    std::mt19937 random(31);
    { devservice::Catalogue first(store); }
    const auto kept = keptFeatures(file);
    ASSERT_EQ(kept.size(), samples.size());
    const std::string fingerprint = kept.at(a).fingerprint;
    for (const auto& [id, row] : kept) EXPECT_EQ(row.fingerprint, fingerprint) << id;

    // The records are what the next start uses: with a's and b's swapped, a shot of a is b.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    const auto setRecords = [&](const std::string& id, const std::vector<unsigned char>& record,
                                const std::vector<unsigned char>& look) {
        sqlite3_stmt* update = nullptr;
        sqlite3_prepare_v2(db, "UPDATE page_features SET record = ?, look = ? WHERE page_id = ?",
                           -1, &update, nullptr);
        sqlite3_bind_blob(update, 1, record.data(), int(record.size()), SQLITE_TRANSIENT);
        sqlite3_bind_blob(update, 2, look.data(), int(look.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(update, 3, id.c_str(), -1, SQLITE_TRANSIENT);
        EXPECT_EQ(sqlite3_step(update), SQLITE_DONE);
        sqlite3_finalize(update);
    };
    setRecords(a, kept.at(b).record, kept.at(b).look);
    setRecords(b, kept.at(a).record, kept.at(a).look);
    // A record cut short, and one whose first matrix claims 65536 × 65536 points, are taken
    // again, the same as before.
    const std::string d = samples[3].description.at("id");
    setRecords(c, {kept.at(c).record.begin(), kept.at(c).record.end() - 1}, kept.at(c).look);
    std::vector<unsigned char> huge = kept.at(d).record;
    const std::int32_t side = 1 << 16;
    std::memcpy(huge.data() + 16, &side, sizeof side); // after the mark, the size and the type
    std::memcpy(huge.data() + 20, &side, sizeof side);
    setRecords(d, huge, kept.at(d).look);
    sqlite3_close(db);
    {
        devservice::Catalogue second(store);
        EXPECT_EQ(second.size(), samples.size());
        EXPECT_EQ(found(second, samples[0].image, random), b);
        for (std::size_t i : {2, 3}) {
            const std::string id = samples[i].description.at("id");
            EXPECT_EQ(found(second, samples[i].image, random), id);
            const auto retaken = keptFeatures(file).at(id);
            EXPECT_EQ(retaken.record, kept.at(id).record) << id;
            EXPECT_EQ(retaken.look, kept.at(id).look) << id;
        }
    }

    // Importing a's image again keeps its record; another image drops it.
    devservice::Page page = *store.page(a);
    store.putPage(page);
    EXPECT_EQ(keptFeatures(file).at(a).record, kept.at(b).record);
    const cv::Mat painted = devservice::synth::paintPage(5005);
    cv::imencode(".jpg", painted, page.image);
    store.putPage(page);
    EXPECT_EQ(keptFeatures(file).count(a), 0u);
    {
        devservice::Catalogue third(store);
        EXPECT_EQ(found(third, painted, random), a);
    }

    // Other settings take every page's features again, under another fingerprint.
    devservice::RecogniserSettings fewer;
    fewer.pageFeatures = 300;
    { devservice::Catalogue fourth(store, fewer); }
    const auto retaken = keptFeatures(file);
    ASSERT_EQ(retaken.size(), samples.size());
    const std::string other = retaken.at(a).fingerprint;
    EXPECT_NE(other, fingerprint);
    for (const auto& [id, row] : retaken) EXPECT_EQ(row.fingerprint, other) << id;
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

// Runs the program with arguments; its standard output comes through the returned descriptor.
pid_t start(const std::vector<std::string>& arguments, int& output) {
    int pipeEnds[2];
    EXPECT_EQ(::pipe(pipeEnds), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    std::vector<char*> argv{const_cast<char*>(KESTREL_DEVSERVICE_PROGRAM)};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    EXPECT_EQ(
        posix_spawn(&pid, KESTREL_DEVSERVICE_PROGRAM, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    output = pipeEnds[0];
    return pid;
}

int exitStatus(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(Program, ServesTheImportedCatalogueAndStopsCleanlyOnSigintAndSigterm) {
    TempDir folder;
    const std::string database = (folder / "catalogue.sqlite").string();
    int output = -1;
    pid_t pid = start({"import", KESTREL_DEVSERVICE_CATALOGUE, "--db", database}, output);
    char buffer[256];
    while (::read(output, buffer, sizeof buffer) > 0) {}
    ::close(output);
    ASSERT_EQ(exitStatus(pid), 0);

    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        pid = start({"serve", "--db", database, "--port", "0"}, output);
        std::string printed;
        ssize_t got = 0;
        while (printed.find("listening on http://127.0.0.1:") == std::string::npos ||
               printed.back() != '\n') {
            got = ::read(output, buffer, sizeof buffer);
            if (got <= 0) break;
            printed.append(buffer, std::size_t(got));
        }
        ::close(output);
        const auto at = printed.find("127.0.0.1:");
        ASSERT_NE(at, std::string::npos) << printed;
        httplib::Client client("127.0.0.1", std::stoi(printed.substr(at + 10)));
        const auto stats = client.Get("/v1/stats", httplib::Headers{{"ApiKey", kDemoKey}});
        ASSERT_TRUE(stats);
        EXPECT_EQ(nlohmann::json::parse(stats->body).at("Pages").size(), samplePages().size());
        ::kill(pid, signal);
        EXPECT_EQ(exitStatus(pid), 0);
    }
}

} // namespace
} // namespace kestrel::testing
