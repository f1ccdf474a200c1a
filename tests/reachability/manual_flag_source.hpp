// A flag source whose flags the test sets by hand, delivering its callback on the queue it was
// given, as a platform source does.
#pragma once

#include <kestrel/platform/reachability_flags.hpp>

#include <mutex>

namespace kestrel::test {

class ManualFlagSource : public platform::ReachabilityFlagSource {
public:
    explicit ManualFlagSource(platform::ReachabilityFlags flags = 0) : flags_(flags) {}

    std::optional<platform::ReachabilityFlags> getFlags() override {
        std::lock_guard lock(mutex_);
        if (failReads_) return std::nullopt;
        return flags_;
    }
    bool setCallback(Callback callback) override {
        std::lock_guard lock(mutex_);
        if (callback && refuseCallback_) return false;
        if (callback) {
            ++callbacksSet_;
            everSet_ = callback;
        }
        callback_ = std::move(callback);
        return true;
    }
    bool setDispatchQueue(std::shared_ptr<platform::DispatchQueue> queue) override {
        std::lock_guard lock(mutex_);
        if (queue && refuseQueue_) return false;
        queue_ = std::move(queue);
        return true;
    }

    // Changes the flags and, while a callback and a queue are set, calls back on that queue.
    void setFlags(platform::ReachabilityFlags flags) {
        std::lock_guard lock(mutex_);
        flags_ = flags;
        if (callback_ && queue_) queue_->async([callback = callback_, flags] { callback(flags); });
    }
    void failReads(bool fail) {
        std::lock_guard lock(mutex_);
        failReads_ = fail;
    }
    void refuse(bool callback, bool queue) {
        std::lock_guard lock(mutex_);
        refuseCallback_ = callback;
        refuseQueue_ = queue;
    }
    int callbacksSet() {
        std::lock_guard lock(mutex_);
        return callbacksSet_;
    }
    bool hasCallback() {
        std::lock_guard lock(mutex_);
        return static_cast<bool>(callback_);
    }
    std::shared_ptr<platform::DispatchQueue> queue() {
        std::lock_guard lock(mutex_);
        return queue_;
    }
    // The last callback ever registered, even after it was removed: what a platform that kept a
    // stale context would call.
    Callback everSet() {
        std::lock_guard lock(mutex_);
        return everSet_;
    }

private:
    std::mutex mutex_;
    platform::ReachabilityFlags flags_;
    bool failReads_ = false;
    bool refuseCallback_ = false;
    bool refuseQueue_ = false;
    int callbacksSet_ = 0;
    Callback callback_;
    Callback everSet_;
    std::shared_ptr<platform::DispatchQueue> queue_;
};

} // namespace kestrel::test
