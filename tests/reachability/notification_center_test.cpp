#include <kestrel/platform/notification_center.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

using kestrel::platform::DispatchQueue;
using kestrel::platform::Notification;
using kestrel::platform::NotificationCenter;

namespace {

TEST(NotificationCenter, DeliversByNameInOrderWithTheObject) {
    NotificationCenter center;
    std::vector<std::string> seen;
    center.addObserver("a", nullptr, [&](const Notification& n) {
        seen.push_back("first:" + n.name + ":" + std::to_string(std::any_cast<int>(n.object)));
    });
    center.addObserver("b", nullptr, [&](const Notification& n) { seen.push_back("b:" + n.name); });
    center.addObserver(std::nullopt, nullptr,
                       [&](const Notification& n) { seen.push_back("any:" + n.name); });
    center.addObserver("a", nullptr, [&](const Notification&) { seen.push_back("second"); });
    center.post("a", 7);
    center.post("b");
    center.post("c");
    EXPECT_EQ(seen,
              (std::vector<std::string>{"first:a:7", "any:a", "second", "b:b", "any:b", "any:c"}));
}

TEST(NotificationCenter, ObserverWithAQueueRunsThere) {
    NotificationCenter center;
    auto queue = DispatchQueue::create("test.notifications");
    std::promise<bool> ranOnQueue;
    center.addObserver("n", queue,
                       [&](const Notification&) { ranOnQueue.set_value(queue->isCurrent()); });
    center.post("n");
    EXPECT_TRUE(ranOnQueue.get_future().get());
}

TEST(NotificationCenterRemoval, RemovedObserverIsNeverCalled) {
    NotificationCenter center;
    int calls = 0;
    auto token = center.addObserver("n", nullptr, [&](const Notification&) { ++calls; });
    center.post("n");
    center.removeObserver(token);
    center.removeObserver(token); // twice is harmless
    center.removeObserver({});    // as is an empty token
    center.post("n");
    EXPECT_EQ(calls, 1);
}

TEST(NotificationCenterRemoval, QueuedDeliveryOfARemovedObserverIsDropped) {
    NotificationCenter center;
    auto queue = DispatchQueue::create("test.removal");
    std::promise<void> release;
    auto released = release.get_future().share();
    queue->async([released] { released.wait(); });
    std::atomic<int> calls{0};
    auto token = center.addObserver("n", queue, [&](const Notification&) { ++calls; });
    center.post("n"); // queued behind the held task
    center.removeObserver(token);
    release.set_value();
    queue->sync([] {});
    EXPECT_EQ(calls.load(), 0);
}

TEST(NotificationCenterRemoval, BlockMayRemoveItselfAndPostAgain) {
    NotificationCenter center;
    int calls = 0;
    NotificationCenter::ObserverToken token;
    token = center.addObserver("n", nullptr, [&](const Notification&) {
        ++calls;
        center.removeObserver(token);
        center.post("n"); // no longer observed: no recursion
    });
    center.post("n");
    center.post("n");
    EXPECT_EQ(calls, 1);
}

TEST(NotificationCenterThreads, PostingAddingAndRemovingFromManyThreads) {
    NotificationCenter center;
    auto queue = DispatchQueue::create("test.busy");
    std::atomic<int> kept{0};
    center.addObserver("n", nullptr, [&](const Notification&) { ++kept; });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                auto token =
                    center.addObserver("n", t % 2 ? queue : nullptr, [](const Notification&) {});
                center.post("n", i);
                center.removeObserver(token);
            }
        });
    for (auto& thread : threads) thread.join();
    queue->sync([] {});
    EXPECT_EQ(kept.load(), 800);
}

} // namespace
