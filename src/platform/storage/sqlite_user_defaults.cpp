#include "platform/storage/sqlite_user_defaults.hpp"

#include "platform/storage/private_file.hpp"
#include "platform/storage/sqlite_statement.hpp"
#include "support/diagnostics.hpp"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sqlite3.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace kestrel::platform {

namespace {

constexpr int busyTimeoutMs = 5000;
// How long a write waits for another process's write lock on the caller's thread (often a host's
// UI thread) before the store's queue takes it over.
constexpr int callerBusyMs = 20;
constexpr auto retryPause = std::chrono::milliseconds(25);

// Column values keep their SQLite storage class: TEXT for text, INTEGER for a Boolean, REAL for a
// float. The value column is declared without a type so that SQLite converts nothing.
constexpr const char* schema = "CREATE TABLE IF NOT EXISTS defaults (key TEXT PRIMARY KEY, value)";

using Statement = SqliteStatement;

bool isDamage(int code) {
    const int primary = code & 0xFF;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

bool isBusy(int code) {
    const int primary = code & 0xFF;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

} // namespace

SqliteUserDefaults::SqliteUserDefaults(std::filesystem::path path) : path_(std::move(path)) {}

SqliteUserDefaults::~SqliteUserDefaults() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    queue_.reset(); // lets the drain still queued stop, then joins the queue's thread
    std::lock_guard lock(mutex_);
    if (!flush(busyTimeoutMs))
        support::printLine("Settings store: dropped " + std::to_string(pending_.size()) +
                           " changes, " + path_.string() + " stayed locked");
    close();
}

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
    openBusy_ = false;
    int rc =
        sqlite3_open_v2(path_.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        support::printLine("Settings store: cannot open " + path_.string());
        close();
        return false;
    }
    sqlite3_busy_timeout(db_, busyMs_);
    // WAL keeps readers and the writer of other processes out of each other's way; FULL makes a
    // committed write survive a power loss, not only a killed process. Making a new file a WAL
    // upgrades a read lock to the file's only lock, for which SQLite does not wait: it is tried
    // again within the busy time-out.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(busyMs_);
    while (!execute("PRAGMA journal_mode=WAL")) {
        rc = sqlite3_extended_errcode(db_);
        if (!isBusy(rc) || std::chrono::steady_clock::now() >= deadline) break;
        rc = SQLITE_OK;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (rc == SQLITE_OK && (!execute("PRAGMA synchronous=FULL") || !execute(schema)))
        rc = sqlite3_extended_errcode(db_);
    openBusy_ = isBusy(rc);
    if (openBusy_) {
        close(); // tried again by the next access, or by the queue for a write
        return false;
    }
    if (rc != SQLITE_OK) {
        recover(rc, "cannot prepare");
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
    if (const auto it = pending_.find(key); it != pending_.end()) return it->second;
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
    write(key, value);
}

void SqliteUserDefaults::removeObjectForKey(std::string_view key) { write(key, std::nullopt); }

void SqliteUserDefaults::write(std::string_view key, std::optional<DefaultsValue> value) {
    std::lock_guard lock(mutex_);
    pending_.insert_or_assign(std::string(key), std::move(value));
    if (draining_ || flush(callerBusyMs)) return;
    // Another process holds the write lock: the queue finishes the write once it can, after the
    // ones already waiting, so that the caller does not wait.
    draining_ = true;
    if (!queue_) queue_ = DispatchQueue::create("settings store");
    queue_->async([this] { drain(); });
}

void SqliteUserDefaults::drain() {
    std::unique_lock lock(mutex_);
    // Once the store is being destroyed, its destructor makes the last, longer try.
    while (!closing_ && !flush(callerBusyMs)) {
        // Short tries with the lock released in between, so that reads and writes of this
        // process never wait long behind the queue.
        lock.unlock();
        std::this_thread::sleep_for(retryPause);
        lock.lock();
    }
    draining_ = false;
}

bool SqliteUserDefaults::flush(int busyMs) {
    if (pending_.empty()) return true;
    {
        busyMs_ = busyMs;
        const bool opened = ensureOpen();
        busyMs_ = busyTimeoutMs;
        if (!opened && !openBusy_) {
            std::string keys;
            for (const auto& [key, value] : pending_) keys += (keys.empty() ? "" : ", ") + key;
            support::printLine("Settings store: dropped the write of " + keys);
            pending_.clear();
        }
        if (!opened) return !openBusy_;
        sqlite3_busy_timeout(db_, busyMs);
        // IMMEDIATE takes the write lock at the start, where the busy time-out applies; a
        // deferred transaction that upgrades a read lock fails at once when another process wrote
        // meanwhile.
        int rc = execute("BEGIN IMMEDIATE") ? SQLITE_OK : sqlite3_extended_errcode(db_);
        for (auto it = pending_.begin(); rc == SQLITE_OK && it != pending_.end(); ++it) {
            const auto& [key, value] = *it;
            Statement q(db_, value ? "INSERT INTO defaults (key, value) VALUES (?1, ?2) "
                                     "ON CONFLICT(key) DO UPDATE SET value = excluded.value"
                                   : "DELETE FROM defaults WHERE key = ?1");
            if (!q) {
                rc = sqlite3_extended_errcode(db_);
                break;
            }
            q.bind(1, key);
            if (const auto* text = value ? std::get_if<std::string>(&*value) : nullptr)
                q.bind(2, *text);
            else if (const auto* flag = value ? std::get_if<bool>(&*value) : nullptr)
                q.bind(2, std::int64_t{*flag ? 1 : 0});
            else if (value)
                sqlite3_bind_double(q.stmt, 2, std::get<double>(*value));
            if (sqlite3_step(q.stmt) != SQLITE_DONE) rc = sqlite3_extended_errcode(db_);
        }
        if (rc == SQLITE_OK && !execute("COMMIT")) rc = sqlite3_extended_errcode(db_);
        if (!sqlite3_get_autocommit(db_)) execute("ROLLBACK");
        sqlite3_busy_timeout(db_, busyTimeoutMs);
        if (rc == SQLITE_OK) {
            pending_.clear();
            return true;
        }
        if (isBusy(rc)) return false;
        recover(rc, "cannot write");
        // Anything else (a full disk, say) keeps the changes here and tries them with the next.
    }
    return true;
}

} // namespace kestrel::platform
