// The click reports waiting to be sent, in an SQLite table of their own: each row is one report
// with the number of attempts made, when the next may be made, and which process has it in hand.
// Several processes of one installation share the file; a report is in the hands of at most one
// of them at a time (a claim with an expiry, taken in a write transaction).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace kestrel::platform {

struct StoredReport {
    std::int64_t id = 0;
    std::string sessionId;
    std::string actionId;
    std::int64_t madeAtMs = 0; // milliseconds since the Unix epoch
    int attempts = 0;
    std::int64_t nextAttemptMs = 0;
};

class OutboxStore {
public:
    // Opens (creating owner-only) the store at path; null, with one diagnostic line, when it
    // cannot be opened or written.
    static std::unique_ptr<OutboxStore> open(const std::filesystem::path& path);
    ~OutboxStore();
    OutboxStore(const OutboxStore&) = delete;
    OutboxStore& operator=(const OutboxStore&) = delete;

    // Stores a report already claimed by this process until claimUntilMs, first dropping the
    // oldest reports beyond maximum - 1 (their number goes to dropped). Absent when it could not
    // be stored.
    std::optional<std::int64_t> add(const std::string& sessionId, const std::string& actionId,
                                    std::int64_t nowMs, std::int64_t claimUntilMs,
                                    std::size_t maximum, std::size_t& dropped);
    // Claims up to limit reports that are due (next attempt passed, no live claim), oldest first.
    std::vector<StoredReport> claimDue(std::int64_t nowMs, std::int64_t claimUntilMs,
                                       std::size_t limit);
    // Forgets a report (delivered, or refused for good).
    bool remove(std::int64_t id);
    // Gives a claimed report back with one more attempt, to be tried again at nextAttemptMs.
    bool release(std::int64_t id, std::int64_t nextAttemptMs);
    // Removes the reports made before cutoffMs; how many.
    std::size_t dropMadeBefore(std::int64_t cutoffMs);
    // Makes every report that is not claimed due now.
    void makeAllDue();
    // The earliest next attempt of a report that is not claimed, or the earliest claim expiry.
    std::optional<std::int64_t> nextWake();
    std::vector<StoredReport> all();
    std::size_t count();

private:
    explicit OutboxStore(sqlite3* db, std::string owner);
    bool execute(const char* sql);

    std::mutex mutex_;
    sqlite3* db_;
    std::string owner_; // this process's claims: "<pid>:<random>"
};

} // namespace kestrel::platform
