#include "platform/network/netns.hpp"

#include <kestrel/platform/network_reachability.hpp>

#include <gtest/gtest.h>

using kestrel::platform::NetworkReachability;
using kestrel::platform::ReachabilityFlag;
using kestrel::platform::ReachabilityFlags;
using kestrel::test::FlagWatch;
using kestrel::test::ipv4;
using kestrel::test::NamespaceTest;

namespace {

constexpr ReachabilityFlags R = ReachabilityFlag::reachable;
constexpr ReachabilityFlags W = ReachabilityFlag::isWWAN;
constexpr ReachabilityFlags c = ReachabilityFlag::connectionRequired;
constexpr ReachabilityFlags d = ReachabilityFlag::isDirect;

using NetworkReachabilityOnNetlink = NamespaceTest;

TEST_F(NetworkReachabilityOnNetlink, ZeroAddressFollowsTheDefaultRouteAndCallsBackOnItsQueue) {
    auto target = NetworkReachability::createWithAddress(ipv4("0.0.0.0"));
    ASSERT_TRUE(target);
    FlagWatch watch(target);
    EXPECT_EQ(target->getFlags(), 0u); // loopback only

    addLink();
    ASSERT_IP("route add default via 198.51.100.1 dev v0");
    ASSERT_TRUE(watch.waitFor(R, /*byCallback=*/true))
        << "flags " << target->getFlags().value_or(0);

    ASSERT_IP("link del v0"); // takes its routes with it, without route events
    ASSERT_TRUE(watch.waitFor(0, /*byCallback=*/true))
        << "flags " << target->getFlags().value_or(0);
    EXPECT_EQ(target->getFlags(), 0u);
    const auto [calls, callsOffQueue] = watch.calls();
    EXPECT_GE(calls, 2);
    EXPECT_EQ(callsOffQueue, 0);
}

TEST_F(NetworkReachabilityOnNetlink, CarrierGatewayAndCellularLinkShowInTheFlags) {
    auto target = NetworkReachability::createWithAddress(ipv4("0.0.0.0"));
    ASSERT_TRUE(target);
    FlagWatch watch(target);
    addLink("wwan0", /*peerUp=*/false);
    ASSERT_IP("route add default dev wwan0");
    ASSERT_TRUE(watch.waitFor(c)) << "flags " << target->getFlags().value_or(0); // no carrier
    ASSERT_IP("link set v1 up"); // the carrier comes; no gateway means direct
    ASSERT_TRUE(watch.waitFor(R | W | d)) << "flags " << target->getFlags().value_or(0);
    ASSERT_IP("route replace default via 198.51.100.1 dev wwan0");
    ASSERT_TRUE(watch.waitFor(R | W)) << "flags " << target->getFlags().value_or(0);
}

} // namespace
