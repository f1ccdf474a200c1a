#include <kestrel/service/click_outbox.hpp>

#include "platform/storage/outbox_store.hpp"
#include "platform/storage/sqlite_user_defaults.hpp"
#include "service/click_sending.hpp"
#include "support/diagnostics.hpp"

#include <kestrel/config/reachability.hpp>
#include <kestrel/platform/user_defaults.hpp>
#include <kestrel/service/server.hpp>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>
#include <variant>

namespace kestrel {

namespace {

using Clock = std::chrono::system_clock;
using std::chrono::milliseconds;

// How long a report stays in the hands of the process that sends it. Longer than any exchange;
// a process that dies holding reports gives them up at once (its claims name its process id).
constexpr milliseconds claimTime = std::chrono::minutes(15);
constexpr std::chrono::hours longestServiceWait{24};

std::int64_t nowMs() {
    return std::chrono::duration_cast<milliseconds>(Clock::now().time_since_epoch()).count();
}

// The last attempt failed for good: a 4xx other than 429 will never succeed.
bool refusedForGood(const Failure& failure) {
    return failure.cause == FailureCause::httpStatus && failure.httpStatus >= 400 &&
           failure.httpStatus < 500 && failure.httpStatus != 429;
}

} // namespace

struct ClickOutbox::Core : std::enable_shared_from_this<Core> {
    Core(std::filesystem::path path, Server& owner, Options chosen)
        : file(std::move(path)), server(owner), options(chosen),
          store(platform::OutboxStore::open(file)), random(std::random_device{}()) {}

    const std::filesystem::path file;
    Server& server;
    const Options options;
    const std::unique_ptr<platform::OutboxStore> store;

    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    bool flushRequested = false;
    std::size_t inFlight = 0;
    std::mt19937_64 random;
    std::thread sender;
    std::shared_ptr<Reachability> reachability;

    // The next attempt after `attempts` failed ones: doubling, capped, with jitter in its upper
    // half so that many devices coming back online do not all retry at once; never before the
    // service's "Retry-After".
    std::int64_t nextAttemptAfter(int attempts, const Failure& failure) {
        const auto doublings = std::min(attempts - 1, 30);
        const auto base = std::min<std::int64_t>(options.firstRetryDelay.count() << doublings,
                                                 options.longestRetryDelay.count());
        std::int64_t delay;
        {
            std::lock_guard lock(mutex);
            delay = base / 2 + static_cast<std::int64_t>(random() % (base / 2 + 1));
        }
        if (failure.retryAfter) {
            const auto asked =
                std::min<std::chrono::seconds>(*failure.retryAfter, longestServiceWait);
            delay = std::max<std::int64_t>(delay, milliseconds(asked).count());
        }
        return nowMs() + delay;
    }

    // Records the outcome of one attempt; true when the report is kept for another.
    bool settle(std::int64_t id, int attempts, const std::string& actionId,
                const Result<std::optional<std::string>>& result) {
        if (result.ok()) {
            store->remove(id);
            return false;
        }
        const Failure& failure = result.failure();
        if (refusedForGood(failure)) {
            store->remove(id);
            support::printLine("Click outbox: the service refused the click on " + actionId + " (" +
                               std::to_string(failure.httpStatus) + "); dropped");
            return false;
        }
        store->release(id, nextAttemptAfter(attempts + 1, failure));
        return true;
    }

    void attemptDone() {
        std::lock_guard lock(mutex);
        --inFlight;
        flushRequested = true; // a place is free: fill it
        wake.notify_all();
    }

    void send(const platform::StoredReport& report) {
        auto self = shared_from_this();
        service::sendClick(server.session(), report.sessionId, report.actionId,
                           [self, report](Result<std::optional<std::string>> result) {
                               self->settle(report.id, report.attempts, report.actionId, result);
                               self->attemptDone();
                           });
    }

    // One round: drops what is too old, then sends the due reports there is room for.
    void sendDue() {
        const auto cutoff = nowMs() - milliseconds(options.maximumAge).count();
        if (const auto dropped = store->dropMadeBefore(cutoff); dropped > 0) {
            support::printLine("Click outbox: dropped " + std::to_string(dropped) +
                               " click reports older than " +
                               std::to_string(options.maximumAge.count() / 24) + " days");
        }
        std::size_t room;
        {
            std::lock_guard lock(mutex);
            room = options.maximumInFlight > inFlight ? options.maximumInFlight - inFlight : 0;
        }
        const auto due = store->claimDue(nowMs(), nowMs() + claimTime.count(), room);
        {
            std::lock_guard lock(mutex);
            inFlight += due.size();
        }
        for (const auto& report : due) send(report);
    }

    void run() {
        for (;;) {
            sendDue();
            const auto next = store->nextWake();
            std::unique_lock lock(mutex);
            const auto until = next ? Clock::time_point(milliseconds(std::max(*next, nowMs() + 10)))
                                    : Clock::now() + std::chrono::minutes(1);
            wake.wait_until(lock, std::min(until, Clock::now() + std::chrono::minutes(1)),
                            [this] { return stopping || flushRequested; });
            if (stopping) return;
            flushRequested = false;
        }
    }

    void requestFlush(bool ignoreBackOff) {
        if (ignoreBackOff && store) store->makeAllDue();
        std::lock_guard lock(mutex);
        flushRequested = true;
        wake.notify_all();
    }
};

ClickOutbox::ClickOutbox(std::filesystem::path file, Server& server)
    : ClickOutbox(std::move(file), server, Options()) {}

ClickOutbox::ClickOutbox(std::filesystem::path file, Server& server, Options options)
    : core_(std::make_shared<Core>(std::move(file), server, options)) {
    if (!core_->store) return;
    core_->sender = std::thread([core = core_.get()] { core->run(); });
    if (!options.flushWhenReachable) return;
    try {
        core_->reachability = Reachability::create();
        if (core_->reachability) {
            std::weak_ptr<Core> weak = core_;
            core_->reachability->setWhenReachable([weak](Reachability&) {
                if (auto core = weak.lock()) core->requestFlush(true);
            });
            core_->reachability->startNotifier();
        }
    } catch (const std::exception& error) {
        support::printLine(std::string("Click outbox: not watching the network: ") + error.what());
    }
}

ClickOutbox::~ClickOutbox() {
    if (core_->reachability) core_->reachability->stopNotifier();
    {
        std::lock_guard lock(core_->mutex);
        core_->stopping = true;
        core_->wake.notify_all();
    }
    if (core_->sender.joinable()) core_->sender.join();
}

std::filesystem::path ClickOutbox::defaultFile() {
    const auto store = platform::UserDefaults::standard();
    const auto* sqlite = dynamic_cast<const platform::SqliteUserDefaults*>(store.get());
    const auto settings = sqlite ? sqlite->path() : platform::UserDefaults::defaultPath();
    return settings.parent_path() / "click-outbox.sqlite";
}

const std::filesystem::path& ClickOutbox::file() const { return core_->file; }

bool ClickOutbox::isStoring() const { return core_->store != nullptr; }

std::size_t ClickOutbox::pendingCount() const { return core_->store ? core_->store->count() : 0; }

std::vector<ClickOutbox::Report> ClickOutbox::pendingReports() const {
    std::vector<Report> reports;
    if (!core_->store) return reports;
    for (const auto& stored : core_->store->all()) {
        reports.push_back({stored.sessionId, stored.actionId,
                           Clock::time_point(milliseconds(stored.madeAtMs)), stored.attempts});
    }
    return reports;
}

void ClickOutbox::flush() { core_->requestFlush(true); }

Call ClickOutbox::report(const std::string& sessionId, const std::string& actionId,
                         Completion completion) {
    auto& core = *core_;
    auto built = service::clickRequest(sessionId, actionId);
    if (!core.store || std::holds_alternative<FailureCause>(built)) {
        return service::sendClick(core.server.session(), sessionId, actionId,
                                  std::move(completion));
    }
    std::size_t dropped = 0;
    const auto id = core.store->add(sessionId, actionId, nowMs(), nowMs() + claimTime.count(),
                                    core.options.maximumReports, dropped);
    if (dropped > 0) {
        support::printLine("Click outbox: dropped the " + std::to_string(dropped) +
                           " oldest click reports (more than " +
                           std::to_string(core.options.maximumReports) + " waiting)");
    }
    if (!id) {
        support::printLine("Click outbox: cannot store the click on " + actionId +
                           "; sending it directly");
        return service::sendClickRequest(core.server.session(),
                                         std::move(std::get<platform::HttpRequest>(built)),
                                         std::move(completion));
    }
    auto self = core_;
    return service::sendClickRequest(
        core.server.session(), std::move(std::get<platform::HttpRequest>(built)),
        [self, id = *id, actionId,
         completion = std::move(completion)](Result<std::optional<std::string>> result) {
            const bool kept = self->settle(id, 0, actionId, result);
            if (kept) self->requestFlush(false); // the sender learns when to try again
            if (!completion) return;
            if (result.ok() || !kept) {
                completion(std::move(result));
                return;
            }
            Failure failure = result.failure();
            failure.queuedForRetry = true;
            completion(std::move(failure));
        });
}

} // namespace kestrel
