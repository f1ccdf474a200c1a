#include "platform/storage/sqlite_user_defaults.hpp"

#include "platform/storage/sqlite_statement.hpp"
#include "support/diagnostics.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sqlite3.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kestrel::platform {

namespace {

constexpr int busyTimeoutMs = 5000;
// How long a write waits for another process's write lock on the caller's thread (often a host's
// UI thread) before the store's queue takes it over.
constexpr int callerBusyMs = 20;
constexpr auto retryPause = std::chrono::milliseconds(25);
constexpr std::size_t damagedCopiesKept = 5;
// Not one of SQLite's codes: the file is a database, but not of the settings' shape.
constexpr int damageFound = -1;

// Column values keep their SQLite storage class: TEXT for text, INTEGER for a Boolean, REAL for a
// float. The value column is declared without a type so that SQLite converts nothing.
constexpr const char* schema = "CREATE TABLE IF NOT EXISTS defaults (key TEXT PRIMARY KEY, value)";

using Statement = SqliteStatement;

bool isDamage(int code) {
    const int primary = code & 0xFF;
    return code == damageFound || primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

bool isBusy(int code) {
    const int primary = code & 0xFF;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

// True when no other user can read or swap the folder: a real folder (not a link) of this user's
// with no rights for anyone else (wider ones are taken back), inside folders that only this user
// or root can change, or that are sticky like /tmp.
bool isPrivateFolder(const std::filesystem::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() &&
              ((st.st_mode & 077) == 0 || ::fchmod(fd, st.st_mode & 0700) == 0);
    ::close(fd);
    for (auto up = folder.parent_path(); ok; up = up.parent_path()) {
        ok = ::stat(up.c_str(), &st) == 0 && (st.st_uid == ::geteuid() || st.st_uid == 0) &&
             ((st.st_mode & S_IWOTH) == 0 || (st.st_mode & S_ISVTX) != 0);
        if (up == up.parent_path()) break;
    }
    return ok;
}

// A file: URI for path, with the characters that URIs give a meaning escaped.
std::string fileUri(const std::filesystem::path& path, std::string_view query) {
    std::string uri = "file:";
    for (const unsigned char c : path.string()) {
        if (c == '%' || c == '?' || c == '#' || c < 0x20 || c >= 0x7f) {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            uri += escaped;
        } else {
            uri += static_cast<char>(c);
        }
    }
    return uri.append(query);
}

// The time of day in UTC to the microsecond, in a form whose text order is its time order.
std::string timestamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[40];
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count() %
        1000000;
    const std::size_t n = std::strftime(text, sizeof text, "%Y%m%dT%H%M%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%06lldZ", static_cast<long long>(micros));
    return text;
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
    if (inMemory_) return db_ != nullptr; // a read-only file stays open for reading
    struct stat st {};
    const bool exists = ::lstat(path_.c_str(), &st) == 0;
    if (db_ && exists && st.st_dev == device_ && st.st_ino == inode_) return true;
    close(); // first use, or the file was deleted or replaced behind our back
    // A damaged file found by the first try is set aside; the second starts a fresh store.
    return open() || (!inMemory_ && !openBusy_ && open());
}

bool SqliteUserDefaults::open() {
    openBusy_ = false;
    std::error_code ec;
    const auto folder = std::filesystem::absolute(path_, ec).parent_path();
    std::filesystem::create_directories(folder, ec);
    if (!isPrivateFolder(folder)) {
        keepInMemory("no folder that only this user can reach for");
        return false;
    }
    const bool writable = ::faccessat(AT_FDCWD, folder.c_str(), W_OK, AT_EACCESS) == 0;
    readOnly_ = !writable;
    struct stat st {};
    if (::lstat(path_.c_str(), &st) == 0 && (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid())) {
        if (!writable) {
            keepInMemory("found no settings database of this user's at");
            return false;
        }
        recover(damageFound, "found no settings database at");
        if (inMemory_) return false; // it could not be set aside
    }
    for (const char* suffix : {"-wal", "-shm"}) { // SQLite's own files must be ours alone too
        const std::string companion = path_.string() + suffix;
        if (::lstat(companion.c_str(), &st) != 0) continue;
        if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
            std::filesystem::remove(companion, ec);
        else if ((st.st_mode & 077) != 0)
            ::chmod(companion.c_str(), st.st_mode & 0600);
    }

    // The file is made owner-only before SQLite opens it, so that it never exists with wider
    // rights; an existing one is checked on the open file, so that one swapped in meanwhile is
    // not trusted.
    int fd = ::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && writable) {
        fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST) // another process made it meanwhile
            fd = ::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    }
    const bool owned = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                       st.st_uid == ::geteuid() &&
                       ((st.st_mode & 077) == 0 || ::fchmod(fd, st.st_mode & 0600) == 0);
    if (fd >= 0) ::close(fd);
    if (!owned) {
        keepInMemory(fd < 0 ? "cannot create" : "cannot make private");
        return false;
    }

    const int flags = SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_URI |
                      (writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY);
    int rc = sqlite3_open_v2(fileUri(path_, "").c_str(), &db_, flags, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(db_, busyMs_);
        rc = checkShape();
    }
    // In a folder that cannot be written SQLite cannot make the WAL's index. With no WAL left over
    // the file alone holds every committed write, and nobody can write it meanwhile.
    if (rc != SQLITE_OK && !isDamage(rc) && !writable &&
        !std::filesystem::exists(path_.string() + "-wal", ec)) {
        close();
        rc = sqlite3_open_v2(fileUri(path_, "?immutable=1").c_str(), &db_, flags, nullptr);
        if (rc == SQLITE_OK) rc = checkShape();
    }
    // WAL keeps readers and the writer of other processes out of each other's way; FULL makes a
    // committed write survive a power loss, not only a killed process. Making a new file a WAL
    // upgrades a read lock to the file's only lock, for which SQLite does not wait: it is tried
    // again within the busy time-out.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(busyMs_);
    while (rc == SQLITE_OK && writable && !execute("PRAGMA journal_mode=WAL")) {
        rc = sqlite3_extended_errcode(db_);
        if (!isBusy(rc) || std::chrono::steady_clock::now() >= deadline) break;
        rc = SQLITE_OK;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (rc == SQLITE_OK && writable && !execute("PRAGMA synchronous=FULL"))
        rc = sqlite3_extended_errcode(db_);
    struct stat now {};
    if (rc == SQLITE_OK &&
        (::lstat(path_.c_str(), &now) != 0 || now.st_dev != st.st_dev || now.st_ino != st.st_ino))
        rc = SQLITE_BUSY; // replaced while it was opened: opened again on next use
    openBusy_ = isBusy(rc);
    if (openBusy_) {
        close(); // tried again by the next access, or by the queue for a write
        return false;
    }
    if (rc != SQLITE_OK) {
        recover(rc, "cannot open");
        if (!writable) keepInMemory("cannot read"); // and is not tried again for every read
        return false;
    }
    device_ = st.st_dev;
    inode_ = st.st_ino;
    if (!writable) keepInMemory("cannot write");
    return true;
}

int SqliteUserDefaults::checkShape() {
    Statement table(db_, "SELECT type FROM sqlite_master WHERE name = 'defaults'");
    if (!table) return sqlite3_extended_errcode(db_);
    int rc = sqlite3_step(table.stmt);
    if (rc == SQLITE_DONE)
        return readOnly_ || execute(schema) ? SQLITE_OK : sqlite3_extended_errcode(db_);
    if (rc != SQLITE_ROW) return sqlite3_extended_errcode(db_);
    if (table.text(0) != "table") return damageFound;
    // Writes rely on the key being the table's only key.
    Statement columns(db_, "SELECT name, pk FROM pragma_table_info('defaults')");
    if (!columns) return sqlite3_extended_errcode(db_);
    bool key = false, value = false;
    while ((rc = sqlite3_step(columns.stmt)) == SQLITE_ROW) {
        const std::string name = columns.text(0);
        const int pk = sqlite3_column_int(columns.stmt, 1);
        if (name == "key" && pk == 1)
            key = true;
        else if (name == "value")
            value = true;
        if (pk != 0 && name != "key") return damageFound;
    }
    if (rc != SQLITE_DONE) return sqlite3_extended_errcode(db_);
    return key && value ? SQLITE_OK : damageFound;
}

void SqliteUserDefaults::recover(int code, std::string_view what) {
    support::printLine("Settings store: " + std::string(what) + " " + path_.string() + ": " +
                       (code == damageFound ? "not a settings store" : sqlite3_errstr(code)));
    close();
    if (isDamage(code) && !readOnly_) setAside();
}

void SqliteUserDefaults::setAside() {
    // The content cannot be used any more; keep it for inspection and start afresh. Each copy is
    // named by the time it was found, so that a later damage does not overwrite an earlier one.
    std::error_code ec;
    const std::string prefix = path_.filename().string() + ".damaged";
    const std::string name = prefix + "-" + timestamp();
    auto target = path_.parent_path() / name;
    for (int n = 2; std::filesystem::symlink_status(target, ec).type() !=
                    std::filesystem::file_type::not_found;
         ++n)
        target = path_.parent_path() / (name + "-" + std::to_string(n));
    std::filesystem::rename(path_, target, ec);
    if (ec) {
        keepInMemory("cannot set aside");
        return;
    }
    std::filesystem::remove(path_.string() + "-wal", ec);
    std::filesystem::remove(path_.string() + "-shm", ec);

    std::vector<std::filesystem::path> copies;
    const auto folder = path_.parent_path().empty() ? "." : path_.parent_path();
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        if (entry.path().filename().string().rfind(prefix, 0) == 0) copies.push_back(entry.path());
    std::sort(copies.begin(), copies.end());
    for (std::size_t i = 0; i + damagedCopiesKept < copies.size(); ++i)
        std::filesystem::remove_all(copies[i], ec);
}

void SqliteUserDefaults::keepInMemory(std::string_view why) {
    if (!inMemory_)
        support::printLine("Settings store: " + std::string(why) + " " + path_.string() +
                           "; changes are kept in memory until the process ends");
    inMemory_ = true;
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
    // Twice: a write that finds the file damaged is made again on the fresh store.
    for (int attempt = 0; attempt < 2 && !pending_.empty(); ++attempt) {
        busyMs_ = busyMs;
        const bool opened = ensureOpen();
        busyMs_ = busyTimeoutMs;
        if (!opened) return !openBusy_; // else kept in memory, and ensureOpen said why
        if (inMemory_) return true;
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
        if (!isDamage(rc)) return true;
    }
    return true;
}

} // namespace kestrel::platform
