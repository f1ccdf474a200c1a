#include "platform/network/manual_flag_source.hpp"

#include <kestrel/config/reachability.hpp>

#include <gtest/gtest.h>

using kestrel::Reachability;
using kestrel::platform::ReachabilityFlag;
using kestrel::platform::ReachabilityFlags;
using kestrel::test::ManualFlagSource;
using Status = Reachability::NetworkStatus;

namespace {

constexpr ReachabilityFlags R = ReachabilityFlag::reachable;
constexpr ReachabilityFlags W = ReachabilityFlag::isWWAN;
constexpr ReachabilityFlags c = ReachabilityFlag::connectionRequired;
constexpr ReachabilityFlags t = ReachabilityFlag::transientConnection;

TEST(ReachabilityStatus, BooleansStatusAndDescriptionFollowTheFlags) {
    struct Case {
        const char* name;
        ReachabilityFlags flags;
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
        {ReachabilityFlag::isDirect, "-- ------d"},
        {0xFFFFFFFFu, "WR ctiCDld"},
    };
    for (const auto& [flags, text] : letters) {
        auto monitor = Reachability::create(std::make_shared<ManualFlagSource>(flags));
        EXPECT_EQ(monitor->description(), text) << "flags " << flags;
        EXPECT_EQ(monitor->description().size(), 10u);
    }
}

TEST(ReachabilityStatus, AFailedReadCountsAsNoFlags) {
    auto source = std::make_shared<ManualFlagSource>(R | W | ReachabilityFlag::isDirect);
    source->failReads(true);
    auto monitor = Reachability::create(source);
    EXPECT_FALSE(monitor->isReachable());
    EXPECT_FALSE(monitor->isReachableViaWiFi());
    EXPECT_FALSE(monitor->isReachableViaWWAN());
    EXPECT_EQ(monitor->currentReachabilityStatus(), Status::notReachable);
    EXPECT_EQ(monitor->description(), "-- -------");
}

} // namespace
