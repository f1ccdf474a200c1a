// The built-in settings store: one SQLite file, WAL mode. A write waits only briefly for another
// process's lock; if it is still held, the store's own queue finishes the write later.
#pragma once

#include <kestrel/platform/dispatch_queue.hpp>
#include <kestrel/platform/user_defaults.hpp>

#include <map>
#include <mutex>
#include <sys/types.h>

struct sqlite3;

namespace kestrel::platform {

class SqliteUserDefaults final : public UserDefaults {
public:
    explicit SqliteUserDefaults(std::filesystem::path path);
    // Finishes the writes still waiting for another process's lock (or gives up on them after the
    // busy time-out) before it returns.
    ~SqliteUserDefaults() override;

    std::optional<DefaultsValue> valueForKey(std::string_view key) override;
    void setValue(std::string_view key, const DefaultsValue& value) override;
    void removeObjectForKey(std::string_view key) override;

    const std::filesystem::path& path() const { return path_; }

private:
    // Opens (or reopens) the database when it is closed or its file was replaced or deleted.
    bool ensureOpen();
    bool open();
    void close();
    // Called after a failed statement: drops the connection, and moves a damaged file aside so
    // that the next access starts a fresh store.
    void recover(int code, std::string_view what);
    void setAside();
    // From now on the file is not written: changes stay in memory until the process ends.
    void keepInMemory(std::string_view why);
    bool execute(std::string_view sql);
    // A code of SQLite's, or damageFound when the file is not a settings database.
    int checkShape();
    void write(std::string_view key, std::optional<DefaultsValue> value);
    // Stores pending_ in one transaction, waiting at most busyMs for another writer's lock. True
    // when nothing is left to store now (written, or kept in memory).
    bool flush(int busyMs);
    void drain();

    std::filesystem::path path_;
    std::mutex mutex_;
    sqlite3* db_ = nullptr;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    bool readOnly_ = false; // db_ may be read but not written
    bool inMemory_ = false; // the file is not written (or not used at all) by this store
    bool openBusy_ = false; // the last opening failed only because another process held a lock
    int busyMs_ = 5000;     // how long opening waits for another process's lock
    // Changes not in the file yet, newest per key; an absent value is a removal. Reads look here
    // first, so that this process sees its own writes at once.
    std::map<std::string, std::optional<DefaultsValue>, std::less<>> pending_;
    bool draining_ = false;
    bool closing_ = false;
    // Finishes the writes that found the file locked, one batch at a time; made on first need.
    std::shared_ptr<DispatchQueue> queue_;
};

} // namespace kestrel::platform
