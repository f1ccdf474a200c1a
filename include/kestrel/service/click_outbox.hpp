/// \file
/// Click reports kept on disk until the service has counted them.
#pragma once

#include <kestrel/service/call.hpp>
#include <kestrel/service/result.hpp>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrel {

class Server;

/// Click reports kept on disk until the service has counted them. A report is stored
/// before it is first sent and removed only when the service answers 204; a transport failure, a
/// 5xx or a 429 keeps it for another attempt later (exponential back-off with jitter, honouring
/// "Retry-After"), any other 4xx drops it with one diagnostic line, since it can never succeed.
///
/// Delivery is at least once: a report whose exchange broke after the service may have counted
/// it is sent again, so the service may count such a click twice; the transport itself never
/// resends a request. Processes of one installation share the file; each waiting report is sent
/// by one of them at a time.
class ClickOutbox {
public:
    /// How many reports the outbox keeps, for how long, and how it retries them.
    struct Options {
        /// Beyond this many waiting reports the oldest is dropped, with a diagnostic line.
        std::size_t maximumReports = 10000;
        /// A report older than this is dropped, with a diagnostic line.
        std::chrono::hours maximumAge{24 * 30};
        /// The wait after the first failed attempt; it doubles up to longestRetryDelay.
        std::chrono::milliseconds firstRetryDelay{1000};
        /// The longest wait between two attempts.
        std::chrono::milliseconds longestRetryDelay{10 * 60 * 1000};
        /// Waiting reports in flight at once (the host's own new clicks go out at once).
        std::size_t maximumInFlight = 4;
        /// Flush when the network becomes reachable again.
        bool flushWhenReachable = true;
    };

    /// A click report waiting in the outbox.
    struct Report {
        std::string sessionId;                        ///< the page's session identifier
        std::string actionId;                         ///< the activated action's identifier
        std::chrono::system_clock::time_point madeAt; ///< when the report was stored
        int attempts = 0;                             ///< failed attempts so far
    };

    /// Gets the reply body of a 204 as text (absent when it is not UTF-8), or the failure.
    using Completion = std::function<void(Result<std::optional<std::string>> result)>;

    /// An outbox in the SQLite file at `file` (created owner-only, 0600, in a 0700 folder) that
    /// sends through `server`, which must outlive it. Starts its sender thread, which sends what
    /// earlier runs left. When the file cannot be opened, clicks go out directly, unstored, and
    /// one diagnostic line says so.
    ClickOutbox(std::filesystem::path file, Server& server, Options options);
    /// The same with the default Options.
    ClickOutbox(std::filesystem::path file, Server& server);
    /// Stops the sender; waiting reports stay in the file for the next run.
    ~ClickOutbox();
    ClickOutbox(const ClickOutbox&) = delete;
    ClickOutbox& operator=(const ClickOutbox&) = delete;

    /// "click-outbox.sqlite" beside the standard settings store's file (or in the folder of
    /// platform::UserDefaults::defaultPath() when the host keeps its settings elsewhere).
    static std::filesystem::path defaultFile();

    /// The file given at construction.
    const std::filesystem::path& file() const;
    /// False when the file could not be opened and reports are not kept.
    bool isStoring() const;
    /// How many reports are waiting. Any thread.
    std::size_t pendingCount() const;
    /// The reports waiting, oldest first. Any thread.
    std::vector<Report> pendingReports() const;
    /// Sends every waiting report now, whatever its back-off. Returns at once; any thread.
    void flush();

    /// What Server::clicksWithSessionId does with an outbox: when the request can be built, stores
    /// the report (on the caller's thread, one small synchronous write), then sends it. The
    /// completion, on the delegate queue, gets the reply body of a 204 or the failure, marked
    /// queuedForRetry when the report was kept; a report that cannot be built fails at once on the
    /// caller's thread and is not stored. Cancelling the call keeps the report for later.
    Call report(const std::string& sessionId, const std::string& actionId, Completion completion);

private:
    struct Core;
    std::shared_ptr<Core> core_;
};

} // namespace kestrel
