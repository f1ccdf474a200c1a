// The shared state behind a Call: whether the call has completed or been cancelled, the task that
// carries it, and how to tell its completion that it was cancelled. The first of "the reply
// arrived" and "cancel" wins; the other does nothing, so every call completes exactly once.
#pragma once

#include <kestrel/platform/http_session.hpp>

#include <functional>
#include <memory>
#include <mutex>

namespace kestrel::service {

class CallState {
public:
    // onCancel delivers the cancelled failure to the call's completion.
    CallState(const std::shared_ptr<platform::HttpSession>& session,
              std::function<void()> onCancel);

    // Records the task that carries the call. Before the task is resumed.
    void bind(std::shared_ptr<platform::HttpDataTask> task);
    // Called by the task's handler on the delegate queue: true when the reply is the call's
    // outcome, false when the call was cancelled first.
    bool finish();
    bool cancel();
    bool isFinished() const;

private:
    enum class Stage { pending, finished, cancelled };

    mutable std::mutex mutex_;
    Stage stage_ = Stage::pending;
    // Weak, so that a handle kept by the host never keeps a server's session alive.
    std::weak_ptr<platform::HttpSession> session_;
    std::shared_ptr<platform::HttpDataTask> task_;
    std::function<void()> onCancel_;
};

} // namespace kestrel::service
