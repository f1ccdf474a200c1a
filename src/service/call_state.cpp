#include "service/call_state.hpp"

#include <kestrel/service/call.hpp>

#include <utility>

namespace kestrel {

namespace service {

CallState::CallState(const std::shared_ptr<platform::HttpSession>& session,
                     std::function<void()> onCancel)
    : session_(session), onCancel_(std::move(onCancel)) {}

void CallState::bind(std::shared_ptr<platform::HttpDataTask> task) {
    std::lock_guard lock(mutex_);
    task_ = std::move(task);
}

bool CallState::finish() {
    std::function<void()> unused;
    std::lock_guard lock(mutex_);
    if (stage_ != Stage::pending) return false;
    stage_ = Stage::finished;
    task_.reset();
    unused.swap(onCancel_);
    return true;
}

bool CallState::cancel() {
    std::shared_ptr<platform::HttpDataTask> task;
    std::function<void()> deliver;
    std::shared_ptr<platform::HttpSession> session;
    {
        std::lock_guard lock(mutex_);
        if (stage_ != Stage::pending) return false;
        stage_ = Stage::cancelled;
        task.swap(task_);
        deliver.swap(onCancel_);
        session = session_.lock();
    }
    // The task's own handler still runs, with the transport's "cancelled", and finds the call
    // taken; the cancelled completion is delivered here instead, so that it comes at once.
    if (task) task->cancel();
    if (!deliver) return true;
    if (!session || session->delegateQueue().isCurrent()) {
        deliver();
    } else {
        session->delegateQueue().async(std::move(deliver));
    }
    return true;
}

bool CallState::isFinished() const {
    std::lock_guard lock(mutex_);
    return stage_ != Stage::pending;
}

} // namespace service

bool Call::cancel() const { return state_ && state_->cancel(); }

bool Call::isFinished() const { return !state_ || state_->isFinished(); }

} // namespace kestrel
