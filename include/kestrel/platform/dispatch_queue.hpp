/// \file
/// Serial dispatch queues: each runs its tasks one at a time, in the order they were added, on a
/// thread of its own; the main queue can be handed to the host's own loop.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace kestrel::platform {

/// A serial queue: runs its tasks one at a time, in the order they were added, on a thread of its
/// own.
class DispatchQueue {
public:
    /// One unit of work.
    using Task = std::function<void()>;
    /// Posts a task to some other serial loop (a host's UI loop); must not run it inline.
    using Executor = std::function<void(Task)>;

    /// A new serial queue with its own thread. The label names it in diagnostics.
    static std::shared_ptr<DispatchQueue> create(std::string label);

    /// The main queue: by default a serial queue on a thread of the library's own. After
    /// setMainExecutor, its tasks are handed to the host's executor instead.
    static DispatchQueue& main();
    /// Replaces how the main queue runs its tasks; an empty executor restores the library's own
    /// thread. Tasks already queued stay on the thread that had them.
    static void setMainExecutor(Executor executor);

    /// Destroying a queue runs the tasks already added, then joins its thread; when the last
    /// reference is dropped on the queue's own thread the thread finishes them and exits alone.
    ~DispatchQueue();
    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    /// Adds a task; returns at once. An empty task is ignored.
    void async(Task task);
    /// Runs a task on the queue and waits for it; on the queue's own thread it runs inline.
    void sync(const Task& task);
    /// True when called from a task of this queue.
    bool isCurrent() const;
    /// The label given to create ("main" for the main queue).
    const std::string& label() const { return label_; }

private:
    struct State;
    explicit DispatchQueue(std::string label);
    void post(Task task);

    std::string label_;
    std::shared_ptr<State> state_;
    Executor executor_; ///< set only on the main queue, under the state's lock
    bool isMain_ = false;
};

} // namespace kestrel::platform
