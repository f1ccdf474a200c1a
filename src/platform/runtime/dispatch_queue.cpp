#include <kestrel/platform/dispatch_queue.hpp>

#include <future>
#include <utility>

namespace kestrel::platform {

namespace {
// The queue whose task is running on this thread, for isCurrent().
thread_local const DispatchQueue* currentQueue = nullptr;

struct CurrentQueueScope {
    const DispatchQueue* previous;
    explicit CurrentQueueScope(const DispatchQueue* queue) : previous(currentQueue) {
        currentQueue = queue;
    }
    ~CurrentQueueScope() { currentQueue = previous; }
};
} // namespace

// Shared between the queue and its thread, so that a queue released on its own thread can let the
// thread finish alone.
struct DispatchQueue::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Task> tasks;
    bool stopping = false;
    std::thread thread;
};

DispatchQueue::DispatchQueue(std::string label)
    : label_(std::move(label)), state_(std::make_shared<State>()) {
    state_->thread = std::thread([state = state_] {
        std::unique_lock lock(state->mutex);
        for (;;) {
            state->wake.wait(lock, [&] { return state->stopping || !state->tasks.empty(); });
            if (state->tasks.empty()) return; // stopping, and everything added has run
            Task task = std::move(state->tasks.front());
            state->tasks.pop_front();
            lock.unlock();
            task();
            task = nullptr; // release what the task captured before taking the lock again
            lock.lock();
        }
    });
}

DispatchQueue::~DispatchQueue() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->wake.notify_all();
    if (state_->thread.get_id() == std::this_thread::get_id())
        state_->thread.detach();
    else
        state_->thread.join();
}

std::shared_ptr<DispatchQueue> DispatchQueue::create(std::string label) {
    return std::shared_ptr<DispatchQueue>(new DispatchQueue(std::move(label)));
}

DispatchQueue& DispatchQueue::main() {
    // Created once and never destroyed: tasks may be added to it until the process exits.
    static DispatchQueue* const queue = [] {
        auto* q = new DispatchQueue("main");
        q->isMain_ = true;
        return q;
    }();
    return *queue;
}

void DispatchQueue::setMainExecutor(Executor executor) {
    DispatchQueue& queue = main();
    std::lock_guard lock(queue.state_->mutex);
    queue.executor_ = std::move(executor);
}

void DispatchQueue::post(Task task) {
    Task wrapped = [this, task = std::move(task)] {
        CurrentQueueScope scope(this);
        task();
    };
    // Once the task is queued it may run and release the last reference to this queue: from then
    // on only the shared state, held here, may be touched.
    const std::shared_ptr<State> state = state_;
    std::unique_lock lock(state->mutex);
    if (isMain_ && executor_) {
        Executor executor = executor_;
        lock.unlock();
        executor(std::move(wrapped));
        return;
    }
    state->tasks.push_back(std::move(wrapped));
    lock.unlock();
    state->wake.notify_one();
}

void DispatchQueue::async(Task task) {
    if (task) post(std::move(task));
}

void DispatchQueue::sync(const Task& task) {
    if (!task) return;
    if (isCurrent()) {
        task();
        return;
    }
    std::promise<void> done;
    post([&] {
        try {
            task();
            done.set_value();
        } catch (...) {
            done.set_exception(std::current_exception());
        }
    });
    done.get_future().get();
}

bool DispatchQueue::isCurrent() const { return currentQueue == this; }

} // namespace kestrel::platform
