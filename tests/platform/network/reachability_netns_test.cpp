#include "platform/network/manual_flag_source.hpp"
#include "platform/network/netns.hpp"
#include "platform/network/report_log.hpp"

#include <kestrel/config/reachability.hpp>
#include <kestrel/platform/network_reachability.hpp>

#include <gtest/gtest.h>

using kestrel::Reachability;
using kestrel::platform::DispatchQueue;
using kestrel::platform::NetworkReachability;
using kestrel::platform::ReachabilityFlag;
using kestrel::test::FlagWatch;
using kestrel::test::ipv4;
using kestrel::test::ManualFlagSource;
using kestrel::test::NamespaceTest;
using kestrel::test::Report;
using kestrel::test::ReportLog;
using Status = Reachability::NetworkStatus;

namespace {

// A monitor on the zero-address target with everything it reports recorded; the source in
// between counts registrations and shows the monitor's serial queue.
class ReachabilityEndToEnd : public NamespaceTest {
protected:
    void SetUp() override {
        NamespaceTest::SetUp();
        if (IsSkipped()) return;
        auto target = NetworkReachability::createWithAddress(ipv4("0.0.0.0"));
        ASSERT_TRUE(target);
        source = std::make_shared<ManualFlagSource>(target);
        monitor = Reachability::create(source);
        log.attach(*monitor);
    }
    void TearDown() override {
        monitor.reset();
        NamespaceTest::TearDown();
    }
    // Waits until every evaluation already queued on the monitor's serial queue has run.
    void settle() {
        auto serial = source->queue();
        ASSERT_TRUE(serial);
        serial->sync([] {});
        DispatchQueue::main().sync([] {});
    }
    bool waitForStatus(Status status, std::size_t after = 0) {
        return log.waitUntil([&](const std::vector<Report>& r) {
            return r.size() > after && r.back().status == status;
        });
    }

    std::shared_ptr<ManualFlagSource> source;
    ReportLog log;
    std::shared_ptr<Reachability> monitor;
};

TEST_F(ReachabilityEndToEnd, ReportsOnceThenEveryChangeOnTheMainQueue) {
    monitor->startNotifier();
    monitor->startNotifier(); // the second call does nothing
    EXPECT_EQ(source->callbacksSet(), 1);

    ASSERT_TRUE(log.waitUntil([](const auto& r) { return !r.empty(); }));
    settle();
    auto reports = log.reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].status, Status::notReachable);
    EXPECT_FALSE(reports[0].viaWhenReachable);
    EXPECT_FALSE(reports[0].onMainQueue);
    EXPECT_EQ(log.notifications().first, 1);

    addLink();
    ASSERT_IP("route add default via 198.51.100.1 dev v0");
    ASSERT_TRUE(waitForStatus(Status::reachableViaWiFi)) << monitor->description();
    const std::size_t reachableAt = log.reports().size();
    EXPECT_TRUE(log.reports().back().viaWhenReachable);
    EXPECT_EQ(log.reports().back().description, "-R -------");

    ASSERT_IP("link del v0");
    ASSERT_TRUE(waitForStatus(Status::notReachable, reachableAt)) << monitor->description();
    DispatchQueue::main().sync([] {});

    reports = log.reports();
    for (std::size_t i = 1; i < reports.size(); ++i)
        EXPECT_TRUE(reports[i].onMainQueue) << "report " << i;
    EXPECT_FALSE(reports.back().viaWhenReachable);
    EXPECT_EQ(log.notifications().first, static_cast<int>(reports.size()));
    EXPECT_EQ(source->callbacksSet(), 1);
}

TEST_F(ReachabilityEndToEnd, StopAndStartReportsOnlyWhenTheFlagsChanged) {
    monitor->startNotifier();
    ASSERT_TRUE(log.waitUntil([](const auto& r) { return !r.empty(); }));
    monitor->stopNotifier();
    monitor->startNotifier();
    settle();
    EXPECT_EQ(log.reports().size(), 1u); // same flags as before stopping

    monitor->stopNotifier();
    // Change the network while stopped, and wait until the tables show it.
    auto target = NetworkReachability::createWithAddress(ipv4("0.0.0.0"));
    FlagWatch watch(target);
    addLink();
    ASSERT_IP("route add default via 198.51.100.1 dev v0");
    ASSERT_TRUE(watch.waitFor(ReachabilityFlag::reachable));
    EXPECT_EQ(log.reports().size(), 1u);

    monitor->startNotifier();
    settle();
    const auto reports = log.reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1].status, Status::reachableViaWiFi);
    EXPECT_FALSE(reports[1].onMainQueue); // the first evaluation of the new start
    EXPECT_EQ(source->callbacksSet(), 3);
}

} // namespace
