// The built-in settings store: one SQLite file, WAL mode, every write its own transaction.
#pragma once

#include <kestrel/platform/user_defaults.hpp>

#include <mutex>
#include <sys/types.h>

struct sqlite3;

namespace kestrel::platform {

class SqliteUserDefaults final : public UserDefaults {
public:
    explicit SqliteUserDefaults(std::filesystem::path path);
    ~SqliteUserDefaults() override;

    std::optional<DefaultsValue> valueForKey(std::string_view key) override;
    void setValue(std::string_view key, const DefaultsValue& value) override;
    void removeObjectForKey(std::string_view key) override;

    const std::filesystem::path& path() const { return path_; }

private:
    // Opens (or reopens) the database when it is closed or its file was replaced or deleted.
    bool ensureOpen();
    void close();
    // Called after a failed statement: drops the connection, and moves a damaged file aside so
    // that the next access starts a fresh store.
    void recover(int code, std::string_view what);
    bool execute(std::string_view sql);

    std::filesystem::path path_;
    std::mutex mutex_;
    sqlite3* db_ = nullptr;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

} // namespace kestrel::platform
