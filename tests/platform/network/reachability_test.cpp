// The monitor over a flag source of the test's own: what it reads from the flags, and when and
// where it reports their changes.
#include "platform/network/flag_letters.hpp"
#include "platform/network/monitor_harness.hpp"

#include <gtest/gtest.h>

#include <future>

using kestrel::Reachability;
using kestrel::platform::DispatchQueue;
using kestrel::platform::ReachabilityFlag;
using kestrel::platform::ReachabilityFlags;
using kestrel::test::ManualFlagSource;
using kestrel::test::ReportLog;
using kestrel::test::settle;
using Status = Reachability::NetworkStatus;

namespace {

using namespace kestrel::test::flag_letters;

TEST(ReachabilityStatus, BooleansStatusAndDescriptionFollowTheFlags) {
    struct Case {
        const char* name;
        std::optional<ReachabilityFlags> flags; // none: the read fails
        bool reachableOnWWAN, reachable, viaWiFi, viaWWAN;
        Status status;
        const char *text, *description;
    };
    const Case cases[] = {
        {"no flags", 0, true, false, false, false, Status::notReachable, "No Connection",
         "-- -------"},
        {"reachable only", R, true, true, true, false, Status::reachableViaWiFi, "WiFi",
         "-R -------"},
        {"cellular", R | W, true, true, false, true, Status::reachableViaWWAN, "Cellular",
         "WR -------"},
        {"cellular not allowed", R | W, false, false, false, true, Status::notReachable,
         "No Connection", "WR -------"},
        {"connection required and transient", R | c | t, true, false, true, false,
         Status::notReachable, "No Connection", "-R ct-----"},
        {"connection required alone", R | c, true, true, true, false, Status::reachableViaWiFi,
         "WiFi", "-R c------"},
        {"transient alone", R | t, true, true, true, false, Status::reachableViaWiFi, "WiFi",
         "-R -t-----"},
        {"cellular bit without reachable", W | c, true, false, false, false, Status::notReachable,
         "No Connection", "W- c------"},
        {"failed read", std::nullopt, true, false, false, false, Status::notReachable,
         "No Connection", "-- -------"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        auto monitor = Reachability::create(std::make_shared<ManualFlagSource>(k.flags));
        monitor->setReachableOnWWAN(k.reachableOnWWAN);
        EXPECT_EQ(monitor->isReachable(), k.reachable);
        EXPECT_EQ(monitor->isReachableViaWiFi(), k.viaWiFi);
        EXPECT_EQ(monitor->isReachableViaWWAN(), k.viaWWAN);
        EXPECT_EQ(monitor->currentReachabilityStatus(), k.status);
        EXPECT_EQ(monitor->currentReachabilityString(), k.text);
        EXPECT_EQ(monitor->description(), k.description);
    }
}

TEST(ReachabilityStatus, EachFlagHasItsOwnPlaceInTheDescription) {
    // The flags of the table above are placed there already.
    const std::pair<ReachabilityFlags, const char*> letters[] = {
        {ReachabilityFlag::interventionRequired, "-- --i----"},
        {ReachabilityFlag::connectionOnTraffic, "-- ---C---"},
        {ReachabilityFlag::connectionOnDemand, "-- ----D--"},
        {ReachabilityFlag::isLocalAddress, "-- -----l-"},
        {d, "-- ------d"},
        {0xFFFFFFFFu, "WR ctiCDld"},
    };
    for (const auto& [flags, text] : letters)
        EXPECT_EQ(Reachability::create(std::make_shared<ManualFlagSource>(flags))->description(),
                  text)
            << "flags " << flags;
}

// A monitor over a manual source, with everything it reports recorded.
struct Fixture {
    std::shared_ptr<ManualFlagSource> source;
    ReportLog log;
    std::shared_ptr<Reachability> monitor;
    std::promise<void> release;

    explicit Fixture(ReachabilityFlags flags) : source(std::make_shared<ManualFlagSource>(flags)) {
        monitor = Reachability::create(source);
        log.attach(*monitor);
    }
    void change(ReachabilityFlags flags) {
        auto serial = source->registered().queue;
        source->setFlags(flags);
        settle(serial);
    }
    // Starts, then holds the main queue until release is kept and changes the flags to R: the
    // evaluation that causes waits there.
    void startAndQueueAnEvaluation() {
        monitor->startNotifier();
        auto serial = source->registered().queue;
        settle(serial);
        DispatchQueue::main().async([held = release.get_future().share()] { held.wait(); });
        source->setFlags(R);
        serial->sync([] {}); // the callback has queued its evaluation behind the held task
    }
};

TEST(ReachabilityNotifier, FirstReportOnTheSerialQueueLaterChangesOnTheMainQueueRepeatsSuppressed) {
    Fixture f(0);
    f.monitor->startNotifier();
    ASSERT_TRUE(f.source->registered().queue);
    settle(f.source->registered().queue);
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
    f.startAndQueueAnEvaluation();
    f.monitor->stopNotifier();
    f.release.set_value();
    DispatchQueue::main().sync([] {});
    EXPECT_EQ(f.log.reports().size(), 1u);
}

TEST(ReachabilityLifetime, DestroyingTheMonitorUnregistersAndStaleCallbacksFindNothing) {
    Fixture f(0);
    f.startAndQueueAnEvaluation();
    ASSERT_EQ(f.log.reports().size(), 1u);
    // The evaluation waiting on the main queue when the monitor goes must not run for it.
    f.monitor.reset();
    EXPECT_FALSE(f.source->registered().hasCallback);
    EXPECT_FALSE(f.source->registered().queue);
    f.release.set_value();
    DispatchQueue::main().sync([] {});

    // A platform that kept the old context and calls it anyway reaches nothing.
    auto stale = f.source->registered().everSet;
    ASSERT_TRUE(stale);
    stale(R | d);
    DispatchQueue::main().sync([] {});
    EXPECT_EQ(f.log.reports().size(), 1u);
}

} // namespace
