#include <kestrel/platform/bundle.hpp>
#include <kestrel/platform/user_defaults.hpp>

#include "platform/storage/outbox_store.hpp"
#include "support/capture_stdout.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using kestrel::platform::DefaultsValue;
using kestrel::platform::UserDefaults;
using kestrel::testing::TempDir;

namespace {

mode_t modeOf(const std::filesystem::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 0777;
}

// Runs body in a child process with a store of its own on path; the child exits with 0 when body
// returns normally.
template <typename Body>
pid_t spawn(const std::filesystem::path& path, Body body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        {
            auto store = UserDefaults::openFile(path);
            body(*store);
        }
        ::_exit(0);
    }
    return pid;
}

// Runs SQL on a connection of the test's own, as another process's copy of the library would.
sqlite3* openRaw(const std::filesystem::path& path, const char* sql) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    return db;
}

std::size_t countOf(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

int waitExit(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(UserDefaultsValues, KeepTheirTypes) {
    TempDir dir;
    auto store = UserDefaults::openFile(dir / "defaults.sqlite");
    store->setValue("text", std::string("hello"));
    store->setValue("empty", std::string());
    store->setValue("flag", true);
    store->setValue("quality", 0.7);
    EXPECT_EQ(store->valueForKey("text"), DefaultsValue(std::string("hello")));
    EXPECT_EQ(store->valueForKey("empty"), DefaultsValue(std::string()));
    EXPECT_EQ(store->valueForKey("flag"), DefaultsValue(true));
    EXPECT_EQ(store->valueForKey("quality"), DefaultsValue(0.7));
    EXPECT_FALSE(store->valueForKey("missing"));
    // Stored as a Boolean is not text, and text is not a Boolean.
    EXPECT_FALSE(store->stringForKey("flag"));
    EXPECT_EQ(store->stringForKey("empty"), "");
    store->setValue("flag", std::string("true"));
    EXPECT_EQ(store->valueForKey("flag"), DefaultsValue(std::string("true")));
    store->removeObjectForKey("flag");
    EXPECT_FALSE(store->valueForKey("flag"));
    // Keys are exact: case and embedded bytes matter.
    store->setValue(std::string_view("a\0b", 3), std::string("nul"));
    EXPECT_FALSE(store->valueForKey("a"));
    EXPECT_EQ(store->stringForKey(std::string_view("a\0b", 3)), "nul");
    EXPECT_FALSE(store->valueForKey("TEXT"));
}

// Booleans and numbers read from every stored type: text by its first character after blanks, a
// sign and leading zeros, and by its leading number; a float is single precision or zero.
TEST(UserDefaultsValues, BooleanAndFloatReadsOfOtherTypes) {
    TempDir dir;
    auto store = UserDefaults::openFile(dir / "defaults.sqlite");
    EXPECT_FALSE(store->boolForKey("missing"));
    EXPECT_EQ(store->floatForKey("missing"), 0.0f);
    const struct {
        DefaultsValue value;
        bool asBool;
        float asFloat;
    } cases[] = {{true, true, 1.0f},
                 {false, false, 0.0f},
                 {0.7, true, 0.7f},
                 {0.0, false, 0.0f},
                 {1e300, true, 0.0f},
                 {std::string("YES"), true, 0.0f},
                 {std::string("true"), true, 0.0f},
                 {std::string(" -009"), true, -9.0f},
                 {std::string("0.25 and more"), false, 0.25f},
                 {std::string("no"), false, 0.0f},
                 {std::string(""), false, 0.0f},
                 {std::string("000"), false, 0.0f}};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        store->setValue("v", cases[i].value);
        EXPECT_EQ(store->boolForKey("v"), cases[i].asBool) << i;
        EXPECT_EQ(store->floatForKey("v"), cases[i].asFloat) << i;
    }
}

TEST(UserDefaultsFile, CreatedOwnerOnlyInItsOwnFolder) {
    TempDir dir;
    for (const bool existed : {false, true}) {
        const auto path = dir / (existed ? "old" : "app/nested") / "defaults.sqlite";
        if (existed) { // left with loose modes by someone else's umask
            std::filesystem::create_directory(path.parent_path());
            ::chmod(path.parent_path().c_str(), 0755);
            ::close(::open(path.c_str(), O_CREAT | O_WRONLY, 0644));
            ::chmod(path.c_str(), 0644);
        }
        auto store = UserDefaults::openFile(path);
        store->setValue("apiKey", std::string("secret"));
        EXPECT_EQ(modeOf(path), 0600u);
        EXPECT_EQ(modeOf(path.parent_path()), 0700u);
        EXPECT_EQ(modeOf(path.string() + "-wal"), 0600u);
        // The click outbox beside it is made private the same way.
        ::chmod(path.parent_path().c_str(), 0755);
        const auto outbox = path.parent_path() / "click-outbox.sqlite";
        ASSERT_TRUE(kestrel::platform::OutboxStore::open(outbox));
        EXPECT_EQ(modeOf(outbox), 0600u);
        EXPECT_EQ(modeOf(path.parent_path()), 0700u);
    }
}

// A folder reached through a link or owned by another user, or a file where the folder should be:
// the settings are kept in memory, one line says so, and nothing is written there.
TEST(UserDefaultsFile, UnusableFolderKeepsSettingsInMemory) {
    TempDir dir;
    std::filesystem::create_directory(dir / "target");
    std::filesystem::create_directory_symlink(dir / "target", dir / "link");
    std::ofstream(dir / "file") << "x";
    std::vector<std::filesystem::path> folders = {dir / "link", dir / "file"};
    std::filesystem::create_directory(dir / "theirs");
    if (::chown((dir / "theirs").c_str(), 65534, 65534) == 0) folders.push_back(dir / "theirs");
    for (const auto& folder : folders) {
        auto store = UserDefaults::openFile(folder / "defaults.sqlite");
        const std::string printed = kestrel::testing::captureStdout([&] {
            store->setValue("apiKey", std::string("a"));
            store->setValue("flag", true);
            store->setValue("apiKey", std::string("b"));
        });
        EXPECT_EQ(store->stringForKey("apiKey"), "b") << folder;
        EXPECT_TRUE(store->boolForKey("flag")) << folder;
        EXPECT_EQ(countOf(printed, "\n"), 1u) << printed;
        EXPECT_FALSE(std::filesystem::exists(folder / "defaults.sqlite")) << folder;
    }
}

TEST(UserDefaultsFile, DefaultPathFollowsXdgConfigHome) {
    const char* previous = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = previous ? previous : "";
    ::setenv("XDG_CONFIG_HOME", "/tmp/kestrel-xdg", 1);
    const auto path = UserDefaults::defaultPath();
    EXPECT_EQ(path.parent_path().parent_path(), "/tmp/kestrel-xdg");
    EXPECT_EQ(path.parent_path().filename(), "test_user_defaults");
    // A host that names its bundle gets a folder of that name.
    kestrel::platform::Bundle::setMainInfoDictionary(
        {{"CFBundleIdentifier", "com.example.reader"}});
    EXPECT_EQ(UserDefaults::defaultPath(), "/tmp/kestrel-xdg/com.example.reader/defaults.sqlite");
    kestrel::platform::Bundle::setMainInfoDictionary({{"CFBundleIdentifier", "../escape"}});
    EXPECT_EQ(UserDefaults::defaultPath().parent_path().filename(), "test_user_defaults");
    kestrel::platform::Bundle::setMainInfoDictionary(kestrel::JsonValue::object());
    ::setenv("XDG_CONFIG_HOME", "relative/path", 1); // not absolute: ignored
    EXPECT_NE(UserDefaults::defaultPath().parent_path().parent_path(), "relative/path");
    if (previous)
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
}

// The name holds characters that a file: URI gives a meaning to.
TEST(UserDefaultsFile, DeletedFileIsRecreatedOnNextWrite) {
    TempDir dir;
    const auto path = dir / "50% off?#.sqlite";
    auto store = UserDefaults::openFile(path);
    store->setValue("k", std::string("before"));
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path.string() + suffix);
    EXPECT_FALSE(store->valueForKey("k"));
    store->setValue("k", std::string("after"));
    ASSERT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(UserDefaults::openFile(path)->stringForKey("k"), "after");
}

TEST(UserDefaultsFile, DamagedFileIsSetAsideAndTheStoreStartsAfresh) {
    TempDir dir;
    const auto path = dir / "defaults.sqlite";
    {
        std::ofstream garbage(path, std::ios::binary);
        garbage << std::string(8192, '\x5a');
    }
    auto store = UserDefaults::openFile(path);
    std::optional<DefaultsValue> read;
    const std::string printed =
        kestrel::testing::captureStdout([&] { read = store->valueForKey("k"); });
    EXPECT_FALSE(read);
    EXPECT_NE(printed.find("Settings store"), std::string::npos);
    store->setValue("k", true);
    EXPECT_EQ(store->valueForKey("k"), DefaultsValue(true));
    store.reset();
    // Each later damage keeps its own copy, up to the five newest.
    for (int i = 0; i < 6; ++i) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << std::string(8192, 'a' + i);
        (void)kestrel::testing::captureStdout(
            [&] { (void)UserDefaults::openFile(path)->valueForKey("k"); });
    }
    std::vector<std::string> copies;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        if (entry.path().filename().string().rfind("defaults.sqlite.damaged", 0) == 0)
            copies.push_back(entry.path().filename().string());
    EXPECT_EQ(copies.size(), 5u);
}

TEST(UserDefaultsFile, AnythingButTheStoreAtItsPathIsSetAsideWithoutLosingTheWrite) {
    const std::vector<std::function<void(const std::filesystem::path&)>> makers = {
        [](const auto& p) { // a store of another user's (when the test may hand it over)
            UserDefaults::openFile(p)->setValue("k", false);
            (void)::chown(p.c_str(), 65534, 65534);
        },
        [](const auto& p) {
            sqlite3_close(openRaw(p, "CREATE VIEW defaults AS SELECT 1 AS key, 2 AS value"));
        },
        [](const auto& p) { sqlite3_close(openRaw(p, "CREATE TABLE defaults (key, value)")); },
        [](const auto& p) { std::filesystem::create_directory(p); },
        [](const auto& p) { ::mkfifo(p.c_str(), 0600); },
        [](const auto& p) { std::filesystem::create_symlink("/dev/null", p); },
    };
    for (std::size_t i = 0; i < makers.size(); ++i) {
        TempDir dir;
        const auto path = dir / "defaults.sqlite";
        makers[i](path);
        (void)kestrel::testing::captureStdout([&] {
            auto store = UserDefaults::openFile(path);
            store->setValue("k", true); // the first write is the one that finds the damage
        });
        EXPECT_EQ(UserDefaults::openFile(path)->valueForKey("k"), DefaultsValue(true)) << i;
    }
}

TEST(UserDefaultsProcesses, ReadOnlyFolderStillReads) {
    TempDir dir;
    const auto path = dir / "app" / "defaults.sqlite";
    UserDefaults::openFile(path)->setValue("apiKey", std::string("stored"));
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0) { // root writes anywhere: read as an ordinary user instead
            ::chmod(dir.path().c_str(), 0711);
            const bool handed = ::chown(path.parent_path().c_str(), 65534, 65534) == 0 &&
                                ::chown(path.c_str(), 65534, 65534) == 0;
            if (!handed || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        }
        ::chmod(path.parent_path().c_str(), 0500);
        {
            auto store = UserDefaults::openFile(path);
            if (store->stringForKey("apiKey") != "stored") ::_exit(3);
            store->setValue("apiKey", std::string("newer"));
            if (store->stringForKey("apiKey") != "newer") ::_exit(4);
        }
        ::_exit(0);
    }
    EXPECT_EQ(waitExit(child), 0);
    ::chmod(path.parent_path().c_str(), 0700); // so that the folder can be removed
}

TEST(UserDefaultsProcesses, TwoWritersAtOnceLoseNothing) {
    TempDir dir;
    const auto path = dir / "defaults.sqlite";
    constexpr int perWriter = 150;
    std::vector<pid_t> children;
    for (int w = 0; w < 2; ++w)
        children.push_back(spawn(path, [w](UserDefaults& s) {
            for (int i = 0; i < perWriter; ++i)
                s.setValue("w" + std::to_string(w) + "-" + std::to_string(i),
                           static_cast<double>(i));
        }));
    for (pid_t c : children) ASSERT_EQ(waitExit(c), 0);
    auto store = UserDefaults::openFile(path);
    for (int w = 0; w < 2; ++w)
        for (int i = 0; i < perWriter; ++i)
            EXPECT_EQ(store->valueForKey("w" + std::to_string(w) + "-" + std::to_string(i)),
                      DefaultsValue(static_cast<double>(i)));
}

// Each write is in the file, where another process reads it, when the call returns.
TEST(UserDefaultsProcesses, EachWriteIsInTheFileWhenTheCallReturns) {
    TempDir dir;
    auto writer = UserDefaults::openFile(dir / "defaults.sqlite");
    auto reader = UserDefaults::openFile(dir / "defaults.sqlite"); // a connection of its own
    for (int i = 0; i < 100; ++i) {
        writer->setValue("n", static_cast<double>(i));
        ASSERT_EQ(reader->floatForKey("n"), static_cast<float>(i));
    }
}

TEST(UserDefaultsProcesses, FirstOpenWaitsForAnotherWriter) {
    TempDir dir;
    const auto path = dir / "defaults.sqlite";
    // Another process is writing the new file: making it a WAL needs the file to itself.
    sqlite3* writer = openRaw(path, "CREATE TABLE t (x); BEGIN; INSERT INTO t VALUES (1)");
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        sqlite3_exec(writer, "COMMIT", nullptr, nullptr, nullptr);
    });
    UserDefaults::openFile(path)->setValue("k", true);
    release.join();
    sqlite3_close(writer);
    EXPECT_EQ(UserDefaults::openFile(path)->valueForKey("k"), DefaultsValue(true));
}

TEST(UserDefaultsProcesses, BusyStoreFinishesWritesLaterWithoutBlocking) {
    TempDir dir;
    const auto path = dir / "defaults.sqlite";
    auto store = UserDefaults::openFile(path);
    store->setValue("k", std::string("old"));
    sqlite3* other = openRaw(path, "BEGIN IMMEDIATE"); // another process holds the write lock
    const auto start = std::chrono::steady_clock::now();
    store->setValue("k", std::string("new"));
    store->setValue("k", std::string("newest"));
    store->setValue("j", true);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(store->stringForKey("k"), "newest"); // this process sees its writes at once
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    for (int i = 0; i < 500 && UserDefaults::openFile(path)->stringForKey("k") != "newest"; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(UserDefaults::openFile(path)->stringForKey("k"), "newest");
    // Still pending when the store goes: written before it is gone.
    sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    store->setValue("k", std::string("last"));
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    });
    store.reset();
    release.join();
    sqlite3_close(other);
    auto reopened = UserDefaults::openFile(path);
    EXPECT_EQ(reopened->stringForKey("k"), "last");
    EXPECT_EQ(reopened->valueForKey("j"), DefaultsValue(true));
}

TEST(UserDefaultsThreads, ConcurrentWritersAndReadersOnOneStore) {
    TempDir dir;
    auto store = UserDefaults::openFile(dir / "defaults.sqlite");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                store->setValue("t" + std::to_string(t), static_cast<double>(i));
                (void)store->floatForKey("t" + std::to_string((t + 1) % 4));
            }
        });
    for (auto& th : threads) th.join();
    for (int t = 0; t < 4; ++t) EXPECT_EQ(store->floatForKey("t" + std::to_string(t)), 49.0f);
}
