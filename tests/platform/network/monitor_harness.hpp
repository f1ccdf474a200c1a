// What the monitor suites share: a flag source whose flags the test sets by hand, calling back on
// the queue it was given as a platform source does (or, made over a platform source, passing
// everything through to it), recording what the monitor registered; and a log of what a monitor
// reports, shared with its closures so that an evaluation still finishing when a test ends never
// touches freed memory.
#pragma once

#include <kestrel/config/reachability.hpp>
#include <kestrel/platform/reachability_flags.hpp>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace kestrel::test {

class ManualFlagSource : public platform::ReachabilityFlagSource {
public:
    // Without flags, every read fails.
    explicit ManualFlagSource(std::optional<platform::ReachabilityFlags> flags) : flags_(flags) {}
    explicit ManualFlagSource(std::shared_ptr<platform::ReachabilityFlagSource> inner)
        : inner_(std::move(inner)) {}

    std::optional<platform::ReachabilityFlags> getFlags() override {
        if (inner_) return inner_->getFlags();
        std::lock_guard lock(mutex_);
        return flags_;
    }
    bool setCallback(Callback callback) override {
        {
            std::lock_guard lock(mutex_);
            if (callback) ++seen_.callbacksSet, seen_.everSet = callback;
            callback_ = callback;
        }
        if (!inner_) return true;
        // Passed through, each call is counted, and whether it came on the queue registered.
        if (callback)
            callback = [this, callback](platform::ReachabilityFlags flags) {
                {
                    std::lock_guard lock(mutex_);
                    ++seen_.calls;
                    if (!seen_.queue || !seen_.queue->isCurrent()) ++seen_.callsOffQueue;
                }
                callback(flags);
            };
        return inner_->setCallback(std::move(callback));
    }
    bool setDispatchQueue(std::shared_ptr<platform::DispatchQueue> queue) override {
        {
            std::lock_guard lock(mutex_);
            seen_.queue = queue;
        }
        return !inner_ || inner_->setDispatchQueue(std::move(queue));
    }

    // Changes the flags and, while a callback and a queue are set, calls back on that queue.
    void setFlags(platform::ReachabilityFlags flags) {
        std::lock_guard lock(mutex_);
        flags_ = flags;
        if (callback_ && seen_.queue)
            seen_.queue->async([callback = callback_, flags] { callback(flags); });
    }

    // What the monitor registered. everSet is the last callback ever set, even after it was
    // removed: what a platform that kept a stale context would call. Calls are counted only when
    // passed through.
    struct Registered {
        int callbacksSet = 0, calls = 0, callsOffQueue = 0;
        bool hasCallback = false;
        std::shared_ptr<platform::DispatchQueue> queue;
        Callback everSet;
    };
    Registered registered() {
        std::lock_guard lock(mutex_);
        Registered now = seen_;
        now.hasCallback = static_cast<bool>(callback_);
        return now;
    }

private:
    const std::shared_ptr<platform::ReachabilityFlagSource> inner_;
    std::mutex mutex_;
    std::optional<platform::ReachabilityFlags> flags_;
    Callback callback_;
    Registered seen_;
};

struct Report {
    bool viaWhenReachable = false;
    Reachability::NetworkStatus status{};
    std::string description;
    bool onMainQueue = false;
};

class ReportLog {
public:
    // Installs both closures and an observer on a fresh notification centre.
    void attach(Reachability& monitor) {
        auto add = [state = state_](Reachability& m, bool viaWhenReachable) {
            Report report{viaWhenReachable, m.currentReachabilityStatus(), m.description(),
                          platform::DispatchQueue::main().isCurrent()};
            std::lock_guard lock(state->mutex);
            state->reports.push_back(std::move(report));
            state->changed.notify_all();
        };
        monitor.setWhenReachable([add](Reachability& m) { add(m, true); });
        monitor.setWhenUnreachable([add](Reachability& m) { add(m, false); });
        auto center = std::make_shared<platform::NotificationCenter>();
        center->addObserver(
            std::string(ReachabilityChangedNotification), nullptr,
            [state = state_, expected = &monitor](const platform::Notification& n) {
                const auto* object = std::any_cast<std::shared_ptr<Reachability>>(&n.object);
                std::lock_guard lock(state->mutex);
                ++(object && object->get() == expected ? state->notifications : state->strays);
            });
        monitor.setNotificationCenter(center);
    }

    std::vector<Report> reports() const {
        std::lock_guard lock(state_->mutex);
        return state_->reports;
    }
    // How many notifications carried the monitor, and how many anything else.
    std::pair<int, int> notifications() const {
        std::lock_guard lock(state_->mutex);
        return {state_->notifications, state_->strays};
    }
    // Waits (at most a generous failure bound) until the reports satisfy done.
    bool waitUntil(const std::function<bool(const std::vector<Report>&)>& done) const {
        std::unique_lock lock(state_->mutex);
        return state_->changed.wait_for(lock, std::chrono::seconds(30),
                                        [&] { return done(state_->reports); });
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<Report> reports;
        int notifications = 0, strays = 0;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// Callbacks go through the monitor's serial queue, then evaluations through the main queue:
// waits until everything caused so far has run.
inline void settle(const std::shared_ptr<platform::DispatchQueue>& serial) {
    serial->sync([] {});
    platform::DispatchQueue::main().sync([] {});
}

} // namespace kestrel::test
