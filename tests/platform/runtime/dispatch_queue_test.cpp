#include <kestrel/platform/dispatch_queue.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

using kestrel::platform::DispatchQueue;

TEST(DispatchQueue, RunsTasksOneAtATimeInOrderOffTheCallersThread) {
    auto queue = DispatchQueue::create("test.order");
    std::vector<int> seen;
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    std::atomic<bool> onCaller{false};
    const auto caller = std::this_thread::get_id();
    for (int i = 0; i < 500; ++i)
        queue->async([&, i] {
            if (running.fetch_add(1) != 0) overlapped = true;
            if (std::this_thread::get_id() == caller) onCaller = true;
            seen.push_back(i);
            running.fetch_sub(1);
        });
    queue->sync([] {});
    ASSERT_EQ(seen.size(), 500u);
    for (int i = 0; i < 500; ++i) EXPECT_EQ(seen[i], i);
    EXPECT_FALSE(overlapped);
    EXPECT_FALSE(onCaller);
}

TEST(DispatchQueue, TasksFromManyThreadsAllRun) {
    auto queue = DispatchQueue::create("test.many");
    std::atomic<int> count{0};
    std::vector<std::thread> producers;
    for (int t = 0; t < 4; ++t)
        producers.emplace_back([&] {
            for (int i = 0; i < 250; ++i) queue->async([&] { ++count; });
        });
    for (auto& p : producers) p.join();
    queue->sync([] {});
    EXPECT_EQ(count.load(), 1000);
}

TEST(DispatchQueue, IsCurrentOnlyInsideItsTasks) {
    auto a = DispatchQueue::create("test.a");
    auto b = DispatchQueue::create("test.b");
    EXPECT_FALSE(a->isCurrent());
    bool aInA = false, bInA = true;
    a->sync([&] {
        aInA = a->isCurrent();
        bInA = b->isCurrent();
    });
    EXPECT_TRUE(aInA);
    EXPECT_FALSE(bInA);
    bool nested = false;
    a->sync([&] { a->sync([&] { nested = a->isCurrent(); }); }); // no deadlock on its own thread
    EXPECT_TRUE(nested);
}

TEST(DispatchQueue, DestructionRunsWhatWasAddedThenJoins) {
    std::atomic<int> count{0};
    {
        auto queue = DispatchQueue::create("test.drain");
        for (int i = 0; i < 100; ++i)
            queue->async([&] {
                std::this_thread::yield();
                ++count;
            });
    }
    EXPECT_EQ(count.load(), 100);
}

TEST(DispatchQueue, ReleasedFromItsOwnTaskFinishesAlone) {
    auto queue = DispatchQueue::create("test.self");
    std::promise<void> done;
    auto* raw = queue.get();
    raw->async([q = std::move(queue), &done]() mutable {
        q.reset(); // the last reference dies on the queue's own thread
        done.set_value();
    });
    done.get_future().get();
}

TEST(DispatchQueue, SyncPassesExceptionsToTheCaller) {
    auto queue = DispatchQueue::create("test.throw");
    EXPECT_THROW(queue->sync([] { throw std::runtime_error("boom"); }), std::runtime_error);
    int after = 0;
    queue->sync([&] { after = 1; });
    EXPECT_EQ(after, 1);
}

TEST(DispatchQueue, MainQueueCanBeHandedToTheHostsLoop) {
    auto& main = DispatchQueue::main();
    const auto caller = std::this_thread::get_id();
    std::thread::id ranOn;
    main.sync([&] { ranOn = std::this_thread::get_id(); });
    EXPECT_NE(ranOn, caller);

    // The host's loop: tasks are collected and run on this thread when it pumps.
    std::mutex mutex;
    std::vector<DispatchQueue::Task> pending;
    DispatchQueue::setMainExecutor([&](DispatchQueue::Task task) {
        std::lock_guard lock(mutex);
        pending.push_back(std::move(task));
    });
    bool ran = false, current = false;
    main.async([&] {
        ran = true;
        current = DispatchQueue::main().isCurrent();
    });
    DispatchQueue::setMainExecutor(nullptr);
    EXPECT_FALSE(ran);
    std::vector<DispatchQueue::Task> toRun;
    {
        std::lock_guard lock(mutex);
        toRun.swap(pending);
    }
    ASSERT_EQ(toRun.size(), 1u);
    toRun.front()();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(current);
}
