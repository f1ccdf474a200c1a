#include "reachability/manual_flag_source.hpp"

#include <kestrel/config/reachability.hpp>

#include <gtest/gtest.h>

#include <unordered_set>

using kestrel::Reachability;
using kestrel::ReachabilityError;
using kestrel::platform::ReachabilityFlag;
using kestrel::platform::ReachabilityFlags;
using kestrel::test::ManualFlagSource;
using Status = Reachability::NetworkStatus;

namespace {

constexpr ReachabilityFlags R = ReachabilityFlag::reachable;
constexpr ReachabilityFlags W = ReachabilityFlag::isWWAN;
constexpr ReachabilityFlags c = ReachabilityFlag::connectionRequired;
constexpr ReachabilityFlags t = ReachabilityFlag::transientConnection;
constexpr ReachabilityFlags l = ReachabilityFlag::isLocalAddress;
constexpr ReachabilityFlags d = ReachabilityFlag::isDirect;

struct StatusCase {
    const char* name;
    ReachabilityFlags flags;
    bool reachableOnWWAN;
    bool reachable, viaWiFi, viaWWAN;
    Status status;
    const char* text;
    const char* description;
};

const StatusCase statusCases[] = {
    {"no flags", 0, true, false, false, false, Status::notReachable, "No Connection", "-- -------"},
    {"reachable only", R, true, true, true, false, Status::reachableViaWiFi, "WiFi", "-R -------"},
    {"cellular", R | W, true, true, false, true, Status::reachableViaWWAN, "Cellular",
     "WR -------"},
    {"cellular not allowed", R | W, false, false, false, true, Status::notReachable,
     "No Connection", "WR -------"},
    {"connection required and transient", R | c | t, true, false, true, false, Status::notReachable,
     "No Connection", "-R ct-----"},
    {"connection required alone", R | c, true, true, true, false, Status::reachableViaWiFi, "WiFi",
     "-R c------"},
    {"transient alone", R | t, true, true, true, false, Status::reachableViaWiFi, "WiFi",
     "-R -t-----"},
    {"cellular bit without reachable", W | c, true, false, false, false, Status::notReachable,
     "No Connection", "W- c------"},
    {"local address", R | l | d, true, true, true, false, Status::reachableViaWiFi, "WiFi",
     "-R -----ld"},
};

class StatusByFlags : public testing::TestWithParam<StatusCase> {};

TEST_P(StatusByFlags, BooleansStatusAndDescriptionFollowTheFlags) {
    const auto& k = GetParam();
    auto monitor = Reachability::create(std::make_shared<ManualFlagSource>(k.flags));
    monitor->setReachableOnWWAN(k.reachableOnWWAN);
    EXPECT_EQ(monitor->isReachable(), k.reachable);
    EXPECT_EQ(monitor->isReachableViaWiFi(), k.viaWiFi);
    EXPECT_EQ(monitor->isReachableViaWWAN(), k.viaWWAN);
    EXPECT_EQ(monitor->currentReachabilityStatus(), k.status);
    EXPECT_EQ(monitor->currentReachabilityString(), k.text);
    EXPECT_EQ(monitor->description(), k.description);
}

INSTANTIATE_TEST_SUITE_P(Reachability, StatusByFlags, testing::ValuesIn(statusCases),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (auto& ch : name)
                                 if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

TEST(ReachabilityDescription, EachFlagHasItsOwnPosition) {
    const std::pair<ReachabilityFlags, const char*> letters[] = {
        {ReachabilityFlag::isWWAN, "W- -------"},
        {ReachabilityFlag::reachable, "-R -------"},
        {ReachabilityFlag::connectionRequired, "-- c------"},
        {ReachabilityFlag::transientConnection, "-- -t-----"},
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

TEST(ReachabilityFlagsRead, AFailedReadCountsAsNoFlags) {
    auto source = std::make_shared<ManualFlagSource>(R | W | d);
    source->failReads(true);
    auto monitor = Reachability::create(source);
    EXPECT_FALSE(monitor->isReachable());
    EXPECT_FALSE(monitor->isReachableViaWiFi());
    EXPECT_FALSE(monitor->isReachableViaWWAN());
    EXPECT_EQ(monitor->currentReachabilityStatus(), Status::notReachable);
    EXPECT_EQ(monitor->description(), "-- -------");
}

TEST(ReachabilityFlagsRead, WithoutASourceEverythingIsUnreachableAndStartDoesNothing) {
    auto monitor = Reachability::create(std::shared_ptr<ManualFlagSource>());
    ASSERT_TRUE(monitor);
    EXPECT_EQ(monitor->currentReachabilityStatus(), Status::notReachable);
    EXPECT_EQ(monitor->description(), "-- -------");
    int calls = 0;
    monitor->setWhenUnreachable([&](Reachability&) { ++calls; });
    EXPECT_NO_THROW(monitor->startNotifier());
    kestrel::platform::DispatchQueue::main().sync([] {});
    EXPECT_EQ(calls, 0);
}

TEST(NetworkStatus, DescriptionsAndHashing) {
    EXPECT_EQ(kestrel::description(Status::notReachable), "No Connection");
    EXPECT_EQ(kestrel::description(Status::reachableViaWiFi), "WiFi");
    EXPECT_EQ(kestrel::description(Status::reachableViaWWAN), "Cellular");
    std::unordered_set<Status> seen{Status::notReachable, Status::reachableViaWiFi,
                                    Status::reachableViaWWAN, Status::reachableViaWiFi};
    EXPECT_EQ(seen.size(), 3u);
}

TEST(ReachabilityErrorCases, CarryTheirPayloads) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(8080);
    const auto withAddress = ReachabilityError::failedToCreateWithAddress(address);
    EXPECT_EQ(withAddress.errorCase(), ReachabilityError::Case::FailedToCreateWithAddress);
    ASSERT_TRUE(withAddress.address());
    EXPECT_EQ(withAddress.address()->sin_port, htons(8080));
    EXPECT_FALSE(withAddress.hostname());

    const auto withName = ReachabilityError::failedToCreateWithHostname("example.org");
    EXPECT_EQ(withName.errorCase(), ReachabilityError::Case::FailedToCreateWithHostname);
    EXPECT_EQ(withName.hostname(), "example.org");
    EXPECT_FALSE(withName.address());

    EXPECT_EQ(ReachabilityError::unableToSetCallback().errorCase(),
              ReachabilityError::Case::UnableToSetCallback);
    EXPECT_EQ(ReachabilityError::unableToSetDispatchQueue().errorCase(),
              ReachabilityError::Case::UnableToSetDispatchQueue);
    EXPECT_STRNE(ReachabilityError::unableToSetCallback().what(),
                 ReachabilityError::unableToSetDispatchQueue().what());
}

} // namespace
