#include "reachability/manual_flag_source.hpp"
#include "reachability/report_log.hpp"

#include <kestrel/config/reachability.hpp>

#include <gtest/gtest.h>

#include <future>

using kestrel::Reachability;
using kestrel::ReachabilityError;
using kestrel::platform::DispatchQueue;
using kestrel::platform::ReachabilityFlag;
using kestrel::platform::ReachabilityFlags;
using kestrel::test::ManualFlagSource;
using kestrel::test::ReportLog;
using Status = Reachability::NetworkStatus;

namespace {

constexpr ReachabilityFlags R = ReachabilityFlag::reachable;
constexpr ReachabilityFlags W = ReachabilityFlag::isWWAN;
constexpr ReachabilityFlags d = ReachabilityFlag::isDirect;

// A monitor over a manual source, with everything it reports recorded. settle() waits until
// every callback and evaluation caused so far has run: callbacks go through the monitor's serial
// queue, then evaluations through the main queue.
struct Fixture {
    std::shared_ptr<ManualFlagSource> source;
    ReportLog log;
    std::shared_ptr<Reachability> monitor;

    explicit Fixture(ReachabilityFlags flags) : source(std::make_shared<ManualFlagSource>(flags)) {
        monitor = Reachability::create(source);
        log.attach(*monitor);
    }
    ~Fixture() { monitor.reset(); }

    void settle(const std::shared_ptr<DispatchQueue>& serial) {
        serial->sync([] {});
        DispatchQueue::main().sync([] {});
    }
    void change(ReachabilityFlags flags) {
        auto serial = source->queue();
        source->setFlags(flags);
        settle(serial);
    }
};

TEST(ReachabilityNotifier, FirstEvaluationReportsOnceOnTheSerialQueue) {
    Fixture f(R);
    f.monitor->startNotifier();
    auto serial = f.source->queue();
    ASSERT_TRUE(serial);
    f.settle(serial);
    const auto reports = f.log.reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].viaWhenReachable);
    EXPECT_EQ(reports[0].status, Status::reachableViaWiFi);
    EXPECT_FALSE(reports[0].onMainQueue);
    EXPECT_EQ(f.log.notifications(), 1);
    EXPECT_EQ(f.log.strayNotifications(), 0);
}

TEST(ReachabilityNotifier, LaterChangesReportOnTheMainQueueAndRepeatsAreSuppressed) {
    Fixture f(0);
    f.monitor->startNotifier();
    f.settle(f.source->queue());
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
    EXPECT_EQ(f.log.notifications(), 4);
}

TEST(ReachabilityNotifier, StopAndStartReportsOnlyWhenTheFlagsChanged) {
    Fixture f(R);
    f.monitor->startNotifier();
    auto serial = f.source->queue();
    f.settle(serial);
    f.monitor->stopNotifier();
    EXPECT_FALSE(f.source->hasCallback());
    EXPECT_FALSE(f.source->queue());

    f.monitor->startNotifier();
    EXPECT_EQ(f.source->callbacksSet(), 2);
    f.settle(serial);
    EXPECT_EQ(f.log.reports().size(), 1u); // previousFlags survives stopping

    f.monitor->stopNotifier();
    f.source->setFlags(R | W); // unseen: no callback while stopped
    f.settle(serial);
    EXPECT_EQ(f.log.reports().size(), 1u);
    f.monitor->startNotifier();
    f.settle(serial);
    const auto reports = f.log.reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1].status, Status::reachableViaWWAN);
    EXPECT_FALSE(reports[1].onMainQueue);
}

TEST(ReachabilityNotifier, EvaluationQueuedBeforeStopIsDropped) {
    Fixture f(0);
    f.monitor->startNotifier();
    auto serial = f.source->queue();
    f.settle(serial);

    // Hold the main queue so that the evaluation of the next change waits there.
    std::promise<void> release;
    auto released = release.get_future().share();
    DispatchQueue::main().async([released] { released.wait(); });
    f.source->setFlags(R);
    serial->sync([] {}); // the callback has queued its evaluation behind the held task
    f.monitor->stopNotifier();
    release.set_value();
    DispatchQueue::main().sync([] {});
    EXPECT_EQ(f.log.reports().size(), 1u);
}

TEST(ReachabilityNotifier, RefusalThrowsItsCaseAndLeavesTheMonitorStoppedButUsable) {
    const std::pair<bool, ReachabilityError::Case> refusals[] = {
        {true, ReachabilityError::Case::UnableToSetCallback},
        {false, ReachabilityError::Case::UnableToSetDispatchQueue}};
    for (const auto& [refuseCallback, expected] : refusals) {
        Fixture f(R);
        f.source->refuse(refuseCallback, !refuseCallback);
        try {
            f.monitor->startNotifier();
            ADD_FAILURE() << "startNotifier did not throw";
        } catch (const ReachabilityError& error) {
            EXPECT_EQ(error.errorCase(), expected);
        }
        EXPECT_FALSE(f.source->hasCallback()); // stopped before throwing
        EXPECT_FALSE(f.source->queue());
        EXPECT_TRUE(f.monitor->isReachable()); // status reads need no notifier

        f.source->refuse(false, false); // not running, so a new start registers again
        f.monitor->startNotifier();
        f.settle(f.source->queue());
        EXPECT_EQ(f.log.reports().size(), 1u);
    }
}

TEST(ReachabilityLifetime, DestroyingTheMonitorUnregistersAndStaleCallbacksFindNothing) {
    auto source = std::make_shared<ManualFlagSource>(0);
    ReportLog log;
    auto monitor = Reachability::create(source);
    log.attach(*monitor);
    monitor->startNotifier();
    auto serial = source->queue();
    serial->sync([] {});
    DispatchQueue::main().sync([] {});
    ASSERT_EQ(log.reports().size(), 1u);

    // An evaluation waiting on the main queue when the monitor goes must not run for it.
    std::promise<void> release;
    auto released = release.get_future().share();
    DispatchQueue::main().async([released] { released.wait(); });
    source->setFlags(R);
    serial->sync([] {});
    monitor.reset();
    EXPECT_FALSE(source->hasCallback());
    EXPECT_FALSE(source->queue());
    release.set_value();
    DispatchQueue::main().sync([] {});

    // A platform that kept the old context and calls it anyway reaches nothing.
    auto stale = source->everSet();
    ASSERT_TRUE(stale);
    stale(R | d);
    DispatchQueue::main().sync([] {});
    EXPECT_EQ(log.reports().size(), 1u);
}

} // namespace
