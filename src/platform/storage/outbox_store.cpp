#include "platform/storage/outbox_store.hpp"

#include "platform/storage/private_file.hpp"
#include "platform/storage/sqlite_statement.hpp"
#include "support/diagnostics.hpp"

#include <kestrel/platform/uuid.hpp>

#include <cerrno>
#include <csignal>
#include <sqlite3.h>
#include <unistd.h>

namespace kestrel::platform {

namespace {

constexpr const char* schema = "CREATE TABLE IF NOT EXISTS click_reports ("
                               " id INTEGER PRIMARY KEY AUTOINCREMENT,"
                               " session_id TEXT NOT NULL, action_id TEXT NOT NULL,"
                               " made_at INTEGER NOT NULL, attempts INTEGER NOT NULL DEFAULT 0,"
                               " next_attempt INTEGER NOT NULL DEFAULT 0,"
                               " claimed_by TEXT, claimed_until INTEGER NOT NULL DEFAULT 0)";

using Statement = SqliteStatement;

// Every report row, in the column order of reportColumns.
constexpr const char* reportColumns =
    "id, session_id, action_id, made_at, attempts, next_attempt, claimed_by, claimed_until";

StoredReport reportAt(const Statement& q) {
    return StoredReport{sqlite3_column_int64(q.stmt, 0),
                        q.text(1),
                        q.text(2),
                        sqlite3_column_int64(q.stmt, 3),
                        static_cast<int>(sqlite3_column_int64(q.stmt, 4)),
                        sqlite3_column_int64(q.stmt, 5)};
}

// True when the claim's process is still running (the claim then holds until it expires).
bool ownerAlive(const std::string& owner) {
    const auto colon = owner.find(':');
    if (colon == std::string::npos || colon == 0) return false;
    const long pid = std::strtol(owner.substr(0, colon).c_str(), nullptr, 10);
    if (pid <= 0) return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

} // namespace

std::unique_ptr<OutboxStore> OutboxStore::open(const std::filesystem::path& path) {
    sqlite3* db = nullptr;
    const bool made = createPrivateFile(path);
    if (!made || sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                                 nullptr) != SQLITE_OK) {
        support::printLine("Click outbox: cannot open " + path.string() +
                           "; clicks are sent directly");
        sqlite3_close_v2(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, 5000);
    std::unique_ptr<OutboxStore> store(
        new OutboxStore(db, std::to_string(::getpid()) + ":" + randomUuidString()));
    if (!store->execute("PRAGMA journal_mode=WAL") || !store->execute("PRAGMA synchronous=FULL") ||
        !store->execute(schema)) {
        support::printLine("Click outbox: cannot prepare " + path.string() + ": " +
                           sqlite3_errmsg(db) + "; clicks are sent directly");
        return nullptr;
    }
    return store;
}

OutboxStore::OutboxStore(sqlite3* db, std::string owner) : db_(db), owner_(std::move(owner)) {}

OutboxStore::~OutboxStore() { sqlite3_close_v2(db_); }

bool OutboxStore::execute(const char* sql) {
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::optional<std::int64_t> OutboxStore::add(const std::string& sessionId,
                                             const std::string& actionId, std::int64_t nowMs,
                                             std::int64_t claimUntilMs, std::size_t maximum,
                                             std::size_t& dropped) {
    std::lock_guard lock(mutex_);
    dropped = 0;
    if (!execute("BEGIN IMMEDIATE")) return std::nullopt;
    Statement counted(db_, "SELECT COUNT(*) FROM click_reports");
    if (counted && sqlite3_step(counted.stmt) == SQLITE_ROW && maximum > 0) {
        const auto stored = static_cast<std::size_t>(sqlite3_column_int64(counted.stmt, 0));
        if (stored >= maximum) {
            Statement trim(db_, "DELETE FROM click_reports WHERE id IN (SELECT id FROM "
                                "click_reports ORDER BY made_at, id LIMIT ?1)");
            if (trim.bind(1, static_cast<std::int64_t>(stored - maximum + 1)).run())
                dropped = stored - maximum + 1;
        }
    }
    Statement insert(db_,
                     "INSERT INTO click_reports (session_id, action_id, made_at, "
                     "next_attempt, claimed_by, claimed_until) VALUES (?1, ?2, ?3, ?3, ?4, ?5)");
    if (!insert.bind(1, sessionId)
             .bind(2, actionId)
             .bind(3, nowMs)
             .bind(4, owner_)
             .bind(5, claimUntilMs)
             .run() ||
        !execute("COMMIT")) {
        execute("ROLLBACK");
        dropped = 0;
        return std::nullopt;
    }
    return sqlite3_last_insert_rowid(db_);
}

std::vector<StoredReport> OutboxStore::claimDue(std::int64_t nowMs, std::int64_t claimUntilMs,
                                                std::size_t limit) {
    std::lock_guard lock(mutex_);
    std::vector<StoredReport> claimed;
    if (limit == 0 || !execute("BEGIN IMMEDIATE")) return claimed;
    {
        Statement q(db_, (std::string("SELECT ") + reportColumns +
                          " FROM click_reports WHERE next_attempt <= ?1 ORDER BY made_at, id")
                             .c_str());
        q.bind(1, nowMs);
        while (q && claimed.size() < limit && sqlite3_step(q.stmt) == SQLITE_ROW) {
            const std::string owner = q.text(6);
            const bool held = sqlite3_column_int64(q.stmt, 7) > nowMs && !owner.empty() &&
                              (owner == owner_ || ownerAlive(owner));
            if (!held) claimed.push_back(reportAt(q));
        }
    }
    for (const auto& report : claimed) {
        Statement claim(db_, "UPDATE click_reports SET claimed_by = ?1, claimed_until = ?2 "
                             "WHERE id = ?3");
        claim.bind(1, owner_).bind(2, claimUntilMs).bind(3, report.id).run();
    }
    if (!execute("COMMIT")) {
        execute("ROLLBACK");
        claimed.clear();
    }
    return claimed;
}

bool OutboxStore::remove(std::int64_t id) {
    std::lock_guard lock(mutex_);
    // Only a new report must reach the disk before the call returns; a removal lost to a power
    // cut costs a duplicate at most, so it does not wait for the disk (a killed process keeps it).
    execute("PRAGMA synchronous=NORMAL");
    Statement q(db_, "DELETE FROM click_reports WHERE id = ?1");
    const bool removed = q.bind(1, id).run();
    execute("PRAGMA synchronous=FULL");
    return removed;
}

bool OutboxStore::release(std::int64_t id, std::int64_t nextAttemptMs) {
    std::lock_guard lock(mutex_);
    Statement q(db_, "UPDATE click_reports SET attempts = attempts + 1, next_attempt = ?1, "
                     "claimed_by = NULL, claimed_until = 0 WHERE id = ?2");
    return q.bind(1, nextAttemptMs).bind(2, id).run();
}

std::size_t OutboxStore::dropMadeBefore(std::int64_t cutoffMs) {
    std::lock_guard lock(mutex_);
    Statement q(db_, "DELETE FROM click_reports WHERE made_at < ?1");
    return q.bind(1, cutoffMs).run() ? static_cast<std::size_t>(sqlite3_changes(db_)) : 0;
}

void OutboxStore::makeAllDue() {
    std::lock_guard lock(mutex_);
    execute("UPDATE click_reports SET next_attempt = 0 WHERE claimed_by IS NULL");
}

std::optional<std::int64_t> OutboxStore::nextWake() {
    std::lock_guard lock(mutex_);
    Statement q(db_, "SELECT MIN(CASE WHEN claimed_by IS NULL THEN next_attempt "
                     "ELSE MAX(next_attempt, claimed_until) END) FROM click_reports");
    if (!q || sqlite3_step(q.stmt) != SQLITE_ROW || sqlite3_column_type(q.stmt, 0) == SQLITE_NULL)
        return std::nullopt;
    return sqlite3_column_int64(q.stmt, 0);
}

std::vector<StoredReport> OutboxStore::all() {
    std::lock_guard lock(mutex_);
    std::vector<StoredReport> reports;
    Statement q(
        db_, (std::string("SELECT ") + reportColumns + " FROM click_reports ORDER BY made_at, id")
                 .c_str());
    while (q && sqlite3_step(q.stmt) == SQLITE_ROW) reports.push_back(reportAt(q));
    return reports;
}

std::size_t OutboxStore::count() {
    std::lock_guard lock(mutex_);
    Statement q(db_, "SELECT COUNT(*) FROM click_reports");
    return q && sqlite3_step(q.stmt) == SQLITE_ROW
               ? static_cast<std::size_t>(sqlite3_column_int64(q.stmt, 0))
               : 0;
}

} // namespace kestrel::platform
