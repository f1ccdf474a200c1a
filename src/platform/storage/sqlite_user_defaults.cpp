#include "platform/storage/sqlite_user_defaults.hpp"

#include "platform/storage/private_file.hpp"
#include "platform/storage/sqlite_statement.hpp"
#include "support/diagnostics.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sqlite3.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel::platform {

namespace {

constexpr int busyTimeoutMs = 5000;

// Column values keep their SQLite storage class: TEXT for text, INTEGER for a Boolean, REAL for a
// float. The value column is declared without a type so that SQLite converts nothing.
constexpr const char* schema = "CREATE TABLE IF NOT EXISTS defaults (key TEXT PRIMARY KEY, value)";

using Statement = SqliteStatement;

bool isDamage(int code) {
    const int primary = code & 0xFF;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

} // namespace

SqliteUserDefaults::SqliteUserDefaults(std::filesystem::path path) : path_(std::move(path)) {}

SqliteUserDefaults::~SqliteUserDefaults() { close(); }

void SqliteUserDefaults::close() {
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
}

bool SqliteUserDefaults::execute(std::string_view sql) {
    const std::string text(sql);
    return sqlite3_exec(db_, text.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool SqliteUserDefaults::ensureOpen() {
    struct stat st {};
    const bool exists = ::stat(path_.c_str(), &st) == 0;
    if (db_ && exists && st.st_dev == device_ && st.st_ino == inode_) return true;
    close(); // first use, or the file was deleted or replaced behind our back

    if (!exists && !createPrivateFile(path_)) {
        support::printLine("Settings store: cannot create " + path_.string());
        return false;
    }
    if (::stat(path_.c_str(), &st) != 0) return false;
    const int rc =
        sqlite3_open_v2(path_.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        support::printLine("Settings store: cannot open " + path_.string());
        close();
        return false;
    }
    sqlite3_busy_timeout(db_, busyTimeoutMs);
    // WAL keeps readers and the writer of other processes out of each other's way; FULL makes a
    // committed write survive a power loss, not only a killed process.
    if (!execute("PRAGMA journal_mode=WAL") || !execute("PRAGMA synchronous=FULL") ||
        !execute(schema)) {
        recover(sqlite3_extended_errcode(db_), "cannot prepare");
        return false;
    }
    device_ = st.st_dev;
    inode_ = st.st_ino;
    return true;
}

void SqliteUserDefaults::recover(int code, std::string_view what) {
    support::printLine("Settings store: " + std::string(what) + " " + path_.string() + ": " +
                       sqlite3_errstr(code));
    close();
    if (isDamage(code)) {
        // The content cannot be read any more; keep it for inspection and start afresh.
        std::error_code ec;
        std::filesystem::rename(path_, path_.string() + ".damaged", ec);
        std::filesystem::remove(path_.string() + "-wal", ec);
        std::filesystem::remove(path_.string() + "-shm", ec);
    }
}

std::optional<DefaultsValue> SqliteUserDefaults::valueForKey(std::string_view key) {
    std::lock_guard lock(mutex_);
    if (!ensureOpen()) return std::nullopt;
    Statement q(db_, "SELECT value FROM defaults WHERE key = ?1");
    if (!q) {
        recover(sqlite3_extended_errcode(db_), "cannot read");
        return std::nullopt;
    }
    sqlite3_bind_text(q.stmt, 1, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
    const int rc = sqlite3_step(q.stmt);
    if (rc == SQLITE_DONE) return std::nullopt;
    if (rc != SQLITE_ROW) {
        recover(sqlite3_extended_errcode(db_), "cannot read");
        return std::nullopt;
    }
    switch (sqlite3_column_type(q.stmt, 0)) {
    case SQLITE_TEXT: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(q.stmt, 0));
        return DefaultsValue(
            std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(q.stmt, 0))));
    }
    case SQLITE_INTEGER:
        return DefaultsValue(sqlite3_column_int64(q.stmt, 0) != 0);
    case SQLITE_FLOAT:
        return DefaultsValue(sqlite3_column_double(q.stmt, 0));
    default:
        return std::nullopt; // written by someone else in a form the library never stores
    }
}

void SqliteUserDefaults::setValue(std::string_view key, const DefaultsValue& value) {
    std::lock_guard lock(mutex_);
    if (!ensureOpen()) {
        support::printLine("Settings store: dropped the write of " + std::string(key));
        return;
    }
    Statement q(db_, "INSERT INTO defaults (key, value) VALUES (?1, ?2) "
                     "ON CONFLICT(key) DO UPDATE SET value = excluded.value");
    if (!q) {
        recover(sqlite3_extended_errcode(db_), "cannot write");
        return;
    }
    sqlite3_bind_text(q.stmt, 1, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
    if (const auto* text = std::get_if<std::string>(&value))
        sqlite3_bind_text(q.stmt, 2, text->data(), static_cast<int>(text->size()),
                          SQLITE_TRANSIENT);
    else if (const auto* flag = std::get_if<bool>(&value))
        sqlite3_bind_int64(q.stmt, 2, *flag ? 1 : 0);
    else
        sqlite3_bind_double(q.stmt, 2, std::get<double>(value));
    if (sqlite3_step(q.stmt) != SQLITE_DONE)
        recover(sqlite3_extended_errcode(db_), "dropped the write of " + std::string(key) + " to");
}

void SqliteUserDefaults::removeObjectForKey(std::string_view key) {
    std::lock_guard lock(mutex_);
    if (!ensureOpen()) return;
    Statement q(db_, "DELETE FROM defaults WHERE key = ?1");
    if (!q) {
        recover(sqlite3_extended_errcode(db_), "cannot remove from");
        return;
    }
    sqlite3_bind_text(q.stmt, 1, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(q.stmt) != SQLITE_DONE)
        recover(sqlite3_extended_errcode(db_), "cannot remove from");
}

} // namespace kestrel::platform
