#include "reachability/flag_watch.hpp"

#include <kestrel/platform/network_reachability.hpp>

#include <gtest/gtest.h>

#include <thread>

using kestrel::platform::NetworkReachability;
using kestrel::platform::ReachabilityFlag;
using kestrel::platform::ReachabilityFlags;
using kestrel::test::FlagWatch;
using kestrel::test::ipv4;
using kestrel::test::ipv6;
using kestrel::test::NamespaceTest;

namespace {

constexpr ReachabilityFlags R = ReachabilityFlag::reachable;
constexpr ReachabilityFlags W = ReachabilityFlag::isWWAN;
constexpr ReachabilityFlags c = ReachabilityFlag::connectionRequired;
constexpr ReachabilityFlags l = ReachabilityFlag::isLocalAddress;
constexpr ReachabilityFlags d = ReachabilityFlag::isDirect;

using NetworkReachabilityOnNetlink = NamespaceTest;

TEST_F(NetworkReachabilityOnNetlink, ZeroAddressFollowsTheDefaultRouteAndCallsBackOnItsQueue) {
    auto target = NetworkReachability::createWithAddress(ipv4("0.0.0.0"));
    ASSERT_TRUE(target);
    FlagWatch watch(target);
    EXPECT_EQ(target->getFlags(), 0u); // loopback only

    addLink();
    ASSERT_IP("route add default via 198.51.100.1 dev v0");
    ASSERT_TRUE(watch.waitForCallback(R)) << "flags " << target->getFlags().value_or(0);

    ASSERT_IP("link del v0"); // takes its routes with it, without route events
    ASSERT_TRUE(watch.waitForCallback(0)) << "flags " << target->getFlags().value_or(0);
    EXPECT_EQ(target->getFlags(), 0u);
    EXPECT_GE(watch.calls(), 2);
    EXPECT_EQ(watch.callsOffQueue(), 0);
}

TEST_F(NetworkReachabilityOnNetlink, LinkDownAndUpAgainLeavesNoStaleRoute) {
    auto target = NetworkReachability::createWithAddress(ipv4("0.0.0.0"));
    ASSERT_TRUE(target);
    FlagWatch watch(target);
    addLink();
    ASSERT_IP("route add default via 198.51.100.1 dev v0");
    ASSERT_TRUE(watch.waitFor(R));
    // Down drops the IPv4 routes silently; up brings back only the prefix route, not the default.
    ASSERT_IP("link set v0 down");
    ASSERT_TRUE(watch.waitFor(c)); // v1 is still up, waiting for its carrier
    ASSERT_IP("link set v0 up");
    auto onLink = NetworkReachability::createWithAddress(ipv4("198.51.100.9"));
    FlagWatch linkWatch(onLink);
    ASSERT_TRUE(linkWatch.waitFor(R | d));
    EXPECT_EQ(target->getFlags(), 0u);
}

TEST_F(NetworkReachabilityOnNetlink, InterfaceWaitingForItsCarrierRequiresAConnection) {
    auto target = NetworkReachability::createWithAddress(ipv4("0.0.0.0"));
    ASSERT_TRUE(target);
    FlagWatch watch(target);
    addLink("v0", "v1", /*peerUp=*/false);
    ASSERT_IP("route add default via 198.51.100.1 dev v0");
    ASSERT_TRUE(watch.waitFor(c)) << "flags " << target->getFlags().value_or(0);
    ASSERT_IP("link set v1 up"); // the carrier comes
    ASSERT_TRUE(watch.waitFor(R)) << "flags " << target->getFlags().value_or(0);
}

TEST_F(NetworkReachabilityOnNetlink, RouteWithoutGatewayIsDirectAndACellularLinkIsWWAN) {
    auto target = NetworkReachability::createWithAddress(ipv4("0.0.0.0"));
    ASSERT_TRUE(target);
    FlagWatch watch(target);
    addLink("wwan0", "v1");
    ASSERT_IP("route add default dev wwan0");
    ASSERT_TRUE(watch.waitFor(R | W | d)) << "flags " << target->getFlags().value_or(0);
    ASSERT_IP("route replace default via 198.51.100.1 dev wwan0");
    ASSERT_TRUE(watch.waitFor(R | W)) << "flags " << target->getFlags().value_or(0);
}

TEST_F(NetworkReachabilityOnNetlink, AddressTargetsSeeLocalDirectAndRoutedPaths) {
    auto any = NetworkReachability::createWithAddress(ipv4("0.0.0.0"));
    ASSERT_TRUE(any);
    FlagWatch watch(any);
    addLink();
    ASSERT_IP("route add default via 198.51.100.1 dev v0");
    ASSERT_TRUE(watch.waitFor(R)); // every target reads the same, now current, tables

    const std::pair<const char*, ReachabilityFlags> v4[] = {{"198.51.100.2", R | l | d},
                                                            {"198.51.100.9", R | d},
                                                            {"203.0.113.5", R},
                                                            {"127.0.0.1", R | l | d},
                                                            {"127.8.9.10", R | l | d}};
    for (const auto& [text, expected] : v4) {
        auto target = NetworkReachability::createWithAddress(ipv4(text));
        ASSERT_TRUE(target) << text;
        EXPECT_EQ(target->getFlags(), expected) << text;
    }
    const std::pair<const char*, ReachabilityFlags> v6[] = {{"::1", R | l | d},
                                                            {"2001:db8::1", 0}, // no IPv6 route
                                                            {"::", R}};         // any route
    for (const auto& [text, expected] : v6) {
        auto target = NetworkReachability::createWithAddress(ipv6(text));
        ASSERT_TRUE(target) << text;
        EXPECT_EQ(target->getFlags(), expected) << text;
    }
}

TEST_F(NetworkReachabilityOnNetlink, HostNamesAreResolvedOffTheCallersThread) {
    auto local = NetworkReachability::createWithName("localhost");
    ASSERT_TRUE(local);
    FlagWatch localWatch(local);
    ASSERT_TRUE(localWatch.waitFor(R | l | d));

    // With no route at all the look-up fails at once and sends nothing.
    auto unknown = NetworkReachability::createWithName("no-such-host.invalid");
    ASSERT_TRUE(unknown);
    FlagWatch unknownWatch(unknown);
    ASSERT_TRUE(unknownWatch.waitFor(c));

    auto literal = NetworkReachability::createWithName("127.0.0.1");
    ASSERT_TRUE(literal);
    EXPECT_EQ(literal->getFlags(), R | l | d); // an address literal needs no look-up
}

TEST(NetworkReachabilityInput, RejectsBadNamesAndFamilies) {
    EXPECT_FALSE(NetworkReachability::createWithName(""));
    EXPECT_FALSE(NetworkReachability::createWithName(std::string("local\0host", 10)));
    EXPECT_FALSE(NetworkReachability::createWithName(std::string(254, 'a')));
    sockaddr_in wrong{};
    wrong.sin_family = AF_UNIX;
    EXPECT_FALSE(NetworkReachability::createWithAddress(wrong));
    sockaddr_in6 wrong6{};
    wrong6.sin6_family = AF_INET;
    EXPECT_FALSE(NetworkReachability::createWithAddress(wrong6));
}

TEST_F(NetworkReachabilityOnNetlink, TargetsComeAndGoWhileTheNetworkChanges) {
    // Targets made, called back and dropped on several threads while links come and go; the
    // watcher they share may stop and start again meanwhile. Afterwards a fresh target still
    // follows the tables.
    std::atomic<bool> done{false};
    std::atomic<int> made{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&] {
            auto queue = kestrel::platform::DispatchQueue::create("test.churn");
            for (int i = 0; !done; ++i) {
                auto target =
                    NetworkReachability::createWithName(i % 2 ? "localhost" : "127.0.0.1");
                if (!target) continue;
                ++made;
                target->setCallback([](ReachabilityFlags) {});
                target->setDispatchQueue(queue);
                target->getFlags();
            }
        });
    [&] {
        for (int i = 0; i < 5; ++i) {
            addLink();
            ASSERT_IP("route add default dev v0");
            ASSERT_IP("link del v0");
        }
    }();
    done = true;
    for (auto& thread : threads) thread.join();
    EXPECT_GT(made.load(), 0);

    auto target = NetworkReachability::createWithAddress(ipv4("0.0.0.0"));
    ASSERT_TRUE(target);
    FlagWatch watch(target);
    addLink();
    ASSERT_IP("route add default dev v0");
    EXPECT_TRUE(watch.waitFor(R | d));
}

} // namespace
