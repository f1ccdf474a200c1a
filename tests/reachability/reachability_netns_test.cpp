#include "reachability/flag_watch.hpp"
#include "reachability/report_log.hpp"

#include <kestrel/config/reachability.hpp>
#include <kestrel/platform/network_reachability.hpp>

#include <gtest/gtest.h>

using kestrel::Reachability;
using kestrel::platform::DispatchQueue;
using kestrel::platform::NetworkReachability;
using kestrel::platform::ReachabilityFlag;
using kestrel::platform::ReachabilityFlags;
using kestrel::platform::ReachabilityFlagSource;
using kestrel::test::FlagWatch;
using kestrel::test::ipv4;
using kestrel::test::NamespaceTest;
using kestrel::test::Report;
using kestrel::test::ReportLog;
using Status = Reachability::NetworkStatus;

namespace {

// The real zero-address target, passed through so that the test can count registrations and
// reach the monitor's serial queue.
class CountingSource : public ReachabilityFlagSource {
public:
    explicit CountingSource(std::shared_ptr<NetworkReachability> target)
        : target_(std::move(target)) {}
    std::optional<ReachabilityFlags> getFlags() override { return target_->getFlags(); }
    bool setCallback(Callback callback) override {
        if (callback) ++registrations_;
        return target_->setCallback(std::move(callback));
    }
    bool setDispatchQueue(std::shared_ptr<DispatchQueue> queue) override {
        if (queue) {
            std::lock_guard lock(mutex_);
            queue_ = queue;
        }
        return target_->setDispatchQueue(std::move(queue));
    }
    int registrations() const { return registrations_; }
    // Waits until every evaluation already queued on the monitor's serial queue has run.
    void settleFirstEvaluation() {
        std::shared_ptr<DispatchQueue> queue;
        {
            std::lock_guard lock(mutex_);
            queue = queue_;
        }
        ASSERT_TRUE(queue);
        queue->sync([] {});
        DispatchQueue::main().sync([] {});
    }

private:
    std::shared_ptr<NetworkReachability> target_;
    std::atomic<int> registrations_{0};
    std::mutex mutex_;
    std::shared_ptr<DispatchQueue> queue_;
};

struct Monitor {
    std::shared_ptr<CountingSource> source;
    ReportLog log;
    std::shared_ptr<Reachability> monitor;

    Monitor() {
        auto target = NetworkReachability::createWithAddress(ipv4("0.0.0.0"));
        if (!target) return;
        source = std::make_shared<CountingSource>(target);
        monitor = Reachability::create(source);
        log.attach(*monitor);
    }
    ~Monitor() { monitor.reset(); }
};

bool hasStatus(const std::vector<Report>& reports, std::size_t from, Status status) {
    for (std::size_t i = from; i < reports.size(); ++i)
        if (reports[i].status == status) return true;
    return false;
}

using ReachabilityEndToEnd = NamespaceTest;

TEST_F(ReachabilityEndToEnd, ReportsOnceThenEveryChangeOnTheMainQueue) {
    Monitor m;
    ASSERT_TRUE(m.monitor);
    m.monitor->startNotifier();
    m.monitor->startNotifier(); // the second call does nothing
    EXPECT_EQ(m.source->registrations(), 1);

    ASSERT_TRUE(m.log.waitForCount(1));
    m.source->settleFirstEvaluation();
    auto reports = m.log.reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].status, Status::notReachable);
    EXPECT_FALSE(reports[0].viaWhenReachable);
    EXPECT_FALSE(reports[0].onMainQueue);
    EXPECT_EQ(m.log.notifications(), 1);

    addLink();
    ASSERT_IP("route add default via 198.51.100.1 dev v0");
    ASSERT_TRUE(m.log.waitUntil([](const auto& r) {
        return !r.empty() && r.back().status == Status::reachableViaWiFi;
    })) << m.monitor->description();
    const std::size_t reachableAt = m.log.reports().size();
    EXPECT_TRUE(m.log.reports().back().viaWhenReachable);
    EXPECT_EQ(m.log.reports().back().description, "-R -------");

    ASSERT_IP("link del v0");
    ASSERT_TRUE(m.log.waitUntil([&](const auto& r) {
        return r.size() > reachableAt && r.back().status == Status::notReachable;
    })) << m.monitor->description();
    DispatchQueue::main().sync([] {});

    reports = m.log.reports();
    for (std::size_t i = 1; i < reports.size(); ++i)
        EXPECT_TRUE(reports[i].onMainQueue) << "report " << i;
    EXPECT_TRUE(hasStatus(reports, 1, Status::reachableViaWiFi));
    EXPECT_FALSE(reports.back().viaWhenReachable);
    EXPECT_EQ(m.log.notifications(), static_cast<int>(reports.size()));
    EXPECT_EQ(m.source->registrations(), 1);
}

TEST_F(ReachabilityEndToEnd, StopAndStartReportsOnlyWhenTheFlagsChanged) {
    Monitor m;
    ASSERT_TRUE(m.monitor);
    m.monitor->startNotifier();
    ASSERT_TRUE(m.log.waitForCount(1));
    m.monitor->stopNotifier();
    m.monitor->startNotifier();
    m.source->settleFirstEvaluation();
    EXPECT_EQ(m.log.reports().size(), 1u); // same flags as before stopping

    m.monitor->stopNotifier();
    // Change the network while stopped, and wait until the tables show it.
    auto target = NetworkReachability::createWithAddress(ipv4("0.0.0.0"));
    FlagWatch watch(target);
    addLink();
    ASSERT_IP("route add default via 198.51.100.1 dev v0");
    ASSERT_TRUE(watch.waitFor(ReachabilityFlag::reachable));
    EXPECT_EQ(m.log.reports().size(), 1u);

    m.monitor->startNotifier();
    m.source->settleFirstEvaluation();
    const auto reports = m.log.reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1].status, Status::reachableViaWiFi);
    EXPECT_FALSE(reports[1].onMainQueue); // the first evaluation of the new start
    EXPECT_EQ(m.source->registrations(), 3);
}

TEST_F(ReachabilityEndToEnd, CellularLinkIsReportedAsCellularUnlessNotAllowed) {
    Monitor m;
    ASSERT_TRUE(m.monitor);
    m.monitor->startNotifier();
    ASSERT_TRUE(m.log.waitForCount(1));
    addLink("wwan0", "v1");
    ASSERT_IP("route add default via 198.51.100.1 dev wwan0");
    ASSERT_TRUE(m.log.waitUntil([](const auto& r) {
        return r.back().status == Status::reachableViaWWAN;
    })) << m.monitor->description();
    EXPECT_EQ(m.monitor->currentReachabilityString(), "Cellular");
    EXPECT_EQ(m.monitor->description(), "WR -------");

    m.monitor->setReachableOnWWAN(false);
    EXPECT_EQ(m.monitor->currentReachabilityStatus(), Status::notReachable);
    EXPECT_FALSE(m.monitor->isReachable());
    EXPECT_TRUE(m.monitor->isReachableViaWWAN());
}

TEST_F(ReachabilityEndToEnd, FactoriesMakeMonitorsOnRealTargets) {
    auto any = Reachability::create();
    ASSERT_TRUE(any);
    EXPECT_EQ(any->currentReachabilityStatus(), Status::notReachable);
    EXPECT_EQ(any->description(), "-- -------");

    auto named = Reachability::create("localhost");
    ASSERT_TRUE(named);
    ReportLog log;
    log.attach(*named);
    named->startNotifier();
    // The first evaluation may come before the look-up has finished; the look-up reports again.
    ASSERT_TRUE(log.waitUntil([](const auto& r) {
        return !r.empty() && r.back().status == Status::reachableViaWiFi;
    })) << named->description();
    EXPECT_EQ(named->description(), "-R -----ld");
    named.reset();

    EXPECT_FALSE(Reachability::create(""));
    EXPECT_FALSE(Reachability::create(std::string(300, 'x')));
}

} // namespace
