// Records what a monitor reports: each closure call with the status and where it ran, and each
// notification posted on the monitor's centre. The record is shared with the closures, so an
// evaluation still finishing when a test ends never touches freed memory.
#pragma once

#include <kestrel/config/reachability.hpp>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace kestrel::test {

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
        auto state = state_;
        monitor.setWhenReachable([state](Reachability& m) { state->add(m, true); });
        monitor.setWhenUnreachable([state](Reachability& m) { state->add(m, false); });
        auto center = std::make_shared<platform::NotificationCenter>();
        const Reachability* expected = &monitor;
        center->addObserver(std::string(ReachabilityChangedNotification), nullptr,
                            [state, expected](const platform::Notification& n) {
                                const auto* object =
                                    std::any_cast<std::shared_ptr<Reachability>>(&n.object);
                                std::lock_guard lock(state->mutex);
                                if (object && object->get() == expected)
                                    ++state->notifications;
                                else
                                    ++state->strayNotifications;
                                state->changed.notify_all();
                            });
        monitor.setNotificationCenter(center);
    }

    std::vector<Report> reports() const {
        std::lock_guard lock(state_->mutex);
        return state_->reports;
    }
    int notifications() const {
        std::lock_guard lock(state_->mutex);
        return state_->notifications;
    }
    int strayNotifications() const {
        std::lock_guard lock(state_->mutex);
        return state_->strayNotifications;
    }
    // Waits (at most a generous failure bound) until the reports satisfy done.
    bool waitUntil(const std::function<bool(const std::vector<Report>&)>& done) const {
        std::unique_lock lock(state_->mutex);
        return state_->changed.wait_for(lock, std::chrono::seconds(30),
                                        [&] { return done(state_->reports); });
    }
    bool waitForCount(std::size_t count) const {
        return waitUntil([count](const auto& r) { return r.size() >= count; });
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<Report> reports;
        int notifications = 0;
        int strayNotifications = 0;

        void add(Reachability& monitor, bool viaWhenReachable) {
            Report report{viaWhenReachable, monitor.currentReachabilityStatus(),
                          monitor.description(), platform::DispatchQueue::main().isCurrent()};
            std::lock_guard lock(mutex);
            reports.push_back(std::move(report));
            changed.notify_all();
        }
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

} // namespace kestrel::test
