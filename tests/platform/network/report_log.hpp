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
        auto add = [state](Reachability& m, bool viaWhenReachable) {
            Report report{viaWhenReachable, m.currentReachabilityStatus(), m.description(),
                          platform::DispatchQueue::main().isCurrent()};
            std::lock_guard lock(state->mutex);
            state->reports.push_back(std::move(report));
            state->changed.notify_all();
        };
        monitor.setWhenReachable([add](Reachability& m) { add(m, true); });
        monitor.setWhenUnreachable([add](Reachability& m) { add(m, false); });
        auto center = std::make_shared<platform::NotificationCenter>();
        const Reachability* expected = &monitor;
        center->addObserver(
            std::string(ReachabilityChangedNotification), nullptr,
            [state, expected](const platform::Notification& n) {
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

} // namespace kestrel::test
