#include <kestrel/platform/notification_center.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <future>

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

TEST(NotificationCenterRemoval, RemovedObserverIsNeverCalledEvenWhenItRemovesItself) {
    NotificationCenter center;
    int calls = 0;
    auto token = center.addObserver("n", nullptr, [&](const Notification&) { ++calls; });
    center.post("n");
    center.removeObserver(token);
    center.removeObserver(token); // twice is harmless
    center.removeObserver({});    // as is an empty token
    center.post("n");
    EXPECT_EQ(calls, 1);

    // A block may remove itself and post again: no longer observed, so no recursion.
    NotificationCenter::ObserverToken self;
    self = center.addObserver("m", nullptr, [&](const Notification&) {
        ++calls;
        center.removeObserver(self);
        center.post("m");
    });
    center.post("m");
    center.post("m");
    EXPECT_EQ(calls, 2);
}

// A delivery queued behind a held task is dropped when its observer is removed, or its centre
// destroyed, before the task lets it run.
TEST(NotificationCenterRemoval, QueuedDeliveryOfARemovedObserverIsDropped) {
    for (const bool destroyCentre : {false, true}) {
        auto center = std::make_unique<NotificationCenter>();
        auto queue = DispatchQueue::create("test.removal");
        std::promise<void> release;
        queue->async([released = release.get_future().share()] { released.wait(); });
        std::atomic<int> calls{0};
        auto token = center->addObserver("n", queue, [&](const Notification&) { ++calls; });
        center->post("n"); // queued behind the held task
        if (destroyCentre)
            center.reset();
        else
            center->removeObserver(token);
        release.set_value();
        queue->sync([] {});
        EXPECT_EQ(calls.load(), 0) << (destroyCentre ? "centre destroyed" : "observer removed");
    }
}

} // namespace
