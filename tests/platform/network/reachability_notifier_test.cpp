#include "platform/network/manual_flag_source.hpp"
#include "platform/network/report_log.hpp"

#include <kestrel/config/reachability.hpp>

#include <gtest/gtest.h>

#include <future>

using kestrel::Reachability;
using kestrel::platform::DispatchQueue;
using kestrel::platform::ReachabilityFlag;
using kestrel::platform::ReachabilityFlags;
using kestrel::test::ManualFlagSource;
using kestrel::test::ReportLog;
using Status = Reachability::NetworkStatus;

namespace {

constexpr ReachabilityFlags R = ReachabilityFlag::reachable;
constexpr ReachabilityFlags d = ReachabilityFlag::isDirect;

// Callbacks go through the monitor's serial queue, then evaluations through the main queue:
// waits until everything caused so far has run.
void settle(const std::shared_ptr<DispatchQueue>& serial) {
    serial->sync([] {});
    DispatchQueue::main().sync([] {});
}

// Holds the main queue until the promise is kept, so that evaluations queue up behind it.
void holdMainQueue(std::promise<void>& release) {
    DispatchQueue::main().async([held = release.get_future().share()] { held.wait(); });
}

// A monitor over a manual source, with everything it reports recorded.
struct Fixture {
    std::shared_ptr<ManualFlagSource> source;
    ReportLog log;
    std::shared_ptr<Reachability> monitor;

    explicit Fixture(ReachabilityFlags flags) : source(std::make_shared<ManualFlagSource>(flags)) {
        monitor = Reachability::create(source);
        log.attach(*monitor);
    }
    void change(ReachabilityFlags flags) {
        auto serial = source->queue();
        source->setFlags(flags);
        settle(serial);
    }
};

TEST(ReachabilityNotifier, FirstReportOnTheSerialQueueLaterChangesOnTheMainQueueRepeatsSuppressed) {
    Fixture f(0);
    f.monitor->startNotifier();
    ASSERT_TRUE(f.source->queue());
    settle(f.source->queue());
    f.change(0); // same flags: nothing
    f.change(R);
    f.change(R);     // same again
    f.change(R | d); // a bit that leaves the status as it is still reports
    f.change(0);
    const auto reports = f.log.reports();
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_FALSE(reports[0].viaWhenReachable);
    EXPECT_EQ(reports[0].status, Status::notReachable);
    EXPECT_FALSE(reports[0].onMainQueue);
    EXPECT_TRUE(reports[1].viaWhenReachable);
    EXPECT_EQ(reports[1].description, "-R -------");
    EXPECT_TRUE(reports[2].viaWhenReachable);
    EXPECT_EQ(reports[2].status, reports[1].status);
    EXPECT_EQ(reports[2].description, "-R ------d");
    EXPECT_FALSE(reports[3].viaWhenReachable);
    for (std::size_t i = 1; i < reports.size(); ++i) EXPECT_TRUE(reports[i].onMainQueue) << i;
    EXPECT_EQ(f.log.notifications(), std::make_pair(4, 0)); // all with the monitor as object
}

TEST(ReachabilityLifetime, EvaluationQueuedBeforeStopIsDropped) {
    Fixture f(0);
    f.monitor->startNotifier();
    auto serial = f.source->queue();
    settle(serial);
    std::promise<void> release;
    holdMainQueue(release);
    f.source->setFlags(R);
    serial->sync([] {}); // the callback has queued its evaluation behind the held task
    f.monitor->stopNotifier();
    release.set_value();
    DispatchQueue::main().sync([] {});
    EXPECT_EQ(f.log.reports().size(), 1u);
}

TEST(ReachabilityLifetime, DestroyingTheMonitorUnregistersAndStaleCallbacksFindNothing) {
    Fixture f(0);
    f.monitor->startNotifier();
    auto serial = f.source->queue();
    settle(serial);
    ASSERT_EQ(f.log.reports().size(), 1u);

    // An evaluation waiting on the main queue when the monitor goes must not run for it.
    std::promise<void> release;
    holdMainQueue(release);
    f.source->setFlags(R);
    serial->sync([] {});
    f.monitor.reset();
    EXPECT_FALSE(f.source->hasCallback());
    EXPECT_FALSE(f.source->queue());
    release.set_value();
    DispatchQueue::main().sync([] {});

    // A platform that kept the old context and calls it anyway reaches nothing.
    auto stale = f.source->everSet();
    ASSERT_TRUE(stale);
    stale(R | d);
    DispatchQueue::main().sync([] {});
    EXPECT_EQ(f.log.reports().size(), 1u);
}

} // namespace
