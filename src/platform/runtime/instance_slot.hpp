// A process-wide, replaceable instance of a platform stand-in: a host or a test installs its own,
// and an empty slot falls back to the built-in one, created on first use.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <utility>

namespace kestrel::platform {

template <typename T>
class InstanceSlot {
public:
    explicit InstanceSlot(std::function<std::shared_ptr<T>()> makeBuiltIn)
        : makeBuiltIn_(std::move(makeBuiltIn)) {}

    std::shared_ptr<T> get() {
        std::lock_guard lock(mutex_);
        if (!value_) value_ = makeBuiltIn_();
        return value_;
    }

    // Null clears the slot, so that the next get() builds the built-in instance again.
    void set(std::shared_ptr<T> value) {
        {
            std::lock_guard lock(mutex_);
            std::swap(value_, value);
        }
        // The replaced instance (if this was its last reference) is destroyed outside the lock,
        // so that its destructor may use the slot again.
    }

private:
    std::mutex mutex_;
    std::function<std::shared_ptr<T>()> makeBuiltIn_;
    std::shared_ptr<T> value_;
};

} // namespace kestrel::platform
