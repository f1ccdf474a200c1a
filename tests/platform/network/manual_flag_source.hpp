// A flag source whose flags the test sets by hand, delivering its callback on the queue it was
// given, as a platform source does; or, made over a platform source, passing everything through
// to it while still recording what the monitor registered.
#pragma once

#include <kestrel/platform/reachability_flags.hpp>

#include <mutex>

namespace kestrel::test {

class ManualFlagSource : public platform::ReachabilityFlagSource {
public:
    explicit ManualFlagSource(platform::ReachabilityFlags flags = 0) : flags_(flags) {}
    explicit ManualFlagSource(std::shared_ptr<platform::ReachabilityFlagSource> inner)
        : inner_(std::move(inner)) {}

    std::optional<platform::ReachabilityFlags> getFlags() override {
        if (inner_) return inner_->getFlags();
        std::lock_guard lock(mutex_);
        if (failReads_) return std::nullopt;
        return flags_;
    }
    bool setCallback(Callback callback) override {
        {
            std::lock_guard lock(mutex_);
            if (callback) {
                ++callbacksSet_;
                everSet_ = callback;
            }
            callback_ = callback;
        }
        return !inner_ || inner_->setCallback(std::move(callback));
    }
    bool setDispatchQueue(std::shared_ptr<platform::DispatchQueue> queue) override {
        {
            std::lock_guard lock(mutex_);
            queue_ = queue;
        }
        return !inner_ || inner_->setDispatchQueue(std::move(queue));
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
    const std::shared_ptr<platform::ReachabilityFlagSource> inner_;
    std::mutex mutex_;
    platform::ReachabilityFlags flags_ = 0;
    bool failReads_ = false;
    int callbacksSet_ = 0;
    Callback callback_, everSet_;
    std::shared_ptr<platform::DispatchQueue> queue_;
};

} // namespace kestrel::test
