#include "platform/cellular_link.hpp"
#include "platform/network_snapshot.hpp"

#include <gtest/gtest.h>

#include <linux/rtnetlink.h>
#include <net/if_arp.h>
#include <sys/socket.h>

using namespace kestrel::platform;

namespace {

constexpr ReachabilityFlags R = ReachabilityFlag::reachable;
constexpr ReachabilityFlags W = ReachabilityFlag::isWWAN;
constexpr ReachabilityFlags c = ReachabilityFlag::connectionRequired;
constexpr ReachabilityFlags l = ReachabilityFlag::isLocalAddress;
constexpr ReachabilityFlags d = ReachabilityFlag::isDirect;

IpAddress ip(const char* text) { return *IpAddress::parse(text); }

LinkState link(int index, const char* name, bool up = true, bool running = true) {
    LinkState state;
    state.index = index;
    state.name = name;
    state.hardwareType = ARPHRD_ETHER;
    state.up = up;
    state.running = running;
    state.loopback = std::string(name) == "lo";
    return state;
}

Route route(const char* destination, std::uint8_t length, int linkIndex, bool gateway,
            std::uint32_t priority = 0, std::uint8_t type = RTN_UNICAST,
            std::uint32_t table = RT_TABLE_MAIN) {
    Route r;
    r.destination = ip(destination);
    r.family = r.destination.family;
    r.prefixLength = length;
    r.priority = priority;
    r.type = type;
    r.table = table;
    if (type == RTN_UNICAST || type == RTN_LOCAL) r.nexthops.push_back({linkIndex, gateway, false});
    return r;
}

// A laptop: loopback, Ethernet with a /24 and a default route, and a modem that is up.
NetworkSnapshot laptop() {
    NetworkSnapshot s;
    s.links = {link(1, "lo"), link(2, "eth0"), link(3, "wwan0")};
    s.routes = {route("127.0.0.0", 8, 1, false, 0, RTN_LOCAL, RT_TABLE_LOCAL),
                route("192.0.2.0", 24, 2, false), route("0.0.0.0", 0, 2, true, 100),
                route("0.0.0.0", 0, 3, true, 700)};
    s.addresses = {{ip("127.0.0.1"), 1}, {ip("192.0.2.10"), 2}, {ip("::1"), 1}};
    return s;
}

TEST(RouteDecision, AnyRouteFollowsTheDefaultRouteWithTheLowestMetric) {
    auto s = laptop();
    EXPECT_EQ(s.flagsFor(ip("0.0.0.0")), R);
    s.routes[2].priority = 900; // the modem's default route now wins
    EXPECT_EQ(s.flagsFor(ip("0.0.0.0")), R | W);
    s.routes[3].nexthops[0].hasGateway = false; // point to point: no gateway
    EXPECT_EQ(s.flagsFor(ip("0.0.0.0")), R | W | d);
}

TEST(RouteDecision, AnyRouteTakesIPv6WhenThereIsNoIPv4DefaultAndPrefersIPv4Otherwise) {
    NetworkSnapshot s;
    s.links = {link(1, "lo"), link(2, "eth0"), link(3, "wwan0")};
    s.routes = {route("::", 0, 3, true, 1024)};
    EXPECT_EQ(s.flagsFor(ip("0.0.0.0")), R | W);
    EXPECT_EQ(s.flagsFor(ip("::")), R | W);
    s.routes.push_back(route("0.0.0.0", 0, 2, true, 2000));
    EXPECT_EQ(s.flagsFor(ip("::")), R);
}

TEST(RouteDecision, AddressTargetsTakeTheLongestMatchingPrefix) {
    const auto s = laptop();
    EXPECT_EQ(s.flagsFor(ip("192.0.2.77")), R | d); // on the Ethernet link
    EXPECT_EQ(s.flagsFor(ip("198.51.100.1")), R);   // through the default gateway
    EXPECT_EQ(s.flagsFor(ip("2001:db8::1")), 0u);   // no IPv6 route at all
}

TEST(RouteDecision, OwnAddressesAreLocalAndDirect) {
    auto s = laptop();
    EXPECT_EQ(s.flagsFor(ip("192.0.2.10")), R | l | d);
    EXPECT_EQ(s.flagsFor(ip("127.0.0.1")), R | l | d);
    EXPECT_EQ(s.flagsFor(ip("127.3.4.5")), R | l | d); // the whole loopback range
    EXPECT_EQ(s.flagsFor(ip("::1")), R | l | d);
    s.links[1].up = false; // an address on a link that is down is not reachable
    EXPECT_EQ(s.flagsFor(ip("192.0.2.10")) & l, 0u);
}

TEST(RouteDecision, RoutesWhoseLinksCannotCarryTrafficArePassedOver) {
    auto s = laptop();
    s.links[1].running = false; // Ethernet cable out: the modem's default route is left
    EXPECT_EQ(s.flagsFor(ip("0.0.0.0")), R | W);
    EXPECT_EQ(s.flagsFor(ip("192.0.2.77")), R | W);
    s.links[2].up = false; // modem down too; Ethernet still waits for its carrier
    EXPECT_EQ(s.flagsFor(ip("0.0.0.0")), c);
    s.links[1].up = false; // nothing is set up any more
    EXPECT_EQ(s.flagsFor(ip("0.0.0.0")), 0u);
}

TEST(RouteDecision, DeadNexthopsAndMissingLinksDoNotCount) {
    NetworkSnapshot s;
    s.links = {link(2, "eth0"), link(3, "eth1")};
    Route multipath = route("0.0.0.0", 0, 2, true);
    multipath.nexthops[0].dead = true;
    s.routes = {multipath};
    EXPECT_EQ(s.flagsFor(ip("0.0.0.0")), 0u);
    s.routes[0].nexthops.push_back({3, false, false});
    EXPECT_EQ(s.flagsFor(ip("0.0.0.0")), R | d);
    s.routes = {route("0.0.0.0", 0, 9, true)}; // a stale route of a link that has gone
    EXPECT_EQ(s.flagsFor(ip("0.0.0.0")), 0u);
}

TEST(RouteDecision, RejectRoutesAndOtherTablesAreRespected) {
    auto s = laptop();
    s.routes.push_back(route("198.51.100.0", 24, 0, false, 0, RTN_UNREACHABLE));
    EXPECT_EQ(s.flagsFor(ip("198.51.100.1")), 0u);
    EXPECT_EQ(s.flagsFor(ip("203.0.113.1")), R);
    // A route in a policy table the default lookup does not use changes nothing.
    s.routes.push_back(route("203.0.113.0", 24, 3, false, 0, RTN_UNICAST, 100));
    EXPECT_EQ(s.flagsFor(ip("203.0.113.1")), R);
    // The main table is searched before the default table.
    s.routes.push_back(route("203.0.113.0", 25, 3, false, 0, RTN_UNICAST, RT_TABLE_DEFAULT));
    EXPECT_EQ(s.flagsFor(ip("203.0.113.1")), R);
}

TEST(RouteDecision, PrefixesEndingInsideAByteMatchOnlyTheirBits) {
    NetworkSnapshot s;
    s.links = {link(2, "eth0")};
    s.routes = {route("198.51.100.64", 27, 2, false)};
    EXPECT_EQ(s.flagsFor(ip("198.51.100.95")), R | d);
    EXPECT_EQ(s.flagsFor(ip("198.51.100.96")), 0u);
    s.routes = {route("2001:db8:8000::", 33, 2, false)};
    EXPECT_EQ(s.flagsFor(ip("2001:db8:ffff::1")), R | d);
    EXPECT_EQ(s.flagsFor(ip("2001:db8:7fff::1")), 0u);
}

TEST(IpAddressText, ParsesBothFamiliesAndRejectsNames) {
    EXPECT_EQ(ip("198.51.100.7").family, AF_INET);
    EXPECT_EQ(ip("2001:db8::7").family, AF_INET6);
    EXPECT_TRUE(ip("0.0.0.0").isUnspecified());
    EXPECT_TRUE(ip("::").isUnspecified());
    EXPECT_FALSE(ip("::1").isUnspecified());
    EXPECT_FALSE(IpAddress::parse("localhost"));
    EXPECT_FALSE(IpAddress::parse("198.51.100"));
}

TEST(CellularRule, DecidesByDeviceTypeKindHardwareOrName) {
    struct Case {
        const char* name;
        const char* kind;
        const char* deviceType;
        unsigned hardware;
        bool cellular;
    };
    const Case cases[] = {
        {"eth0", "", "", ARPHRD_ETHER, false},
        {"wlan0", "", "wlan", ARPHRD_ETHER, false},
        {"veth1", "veth", "", ARPHRD_ETHER, false},
        {"wwp0s20f0u6i12", "", "wwan", ARPHRD_ETHER, true}, // renamed USB modem
        {"mhi0", "wwan", "", ARPHRD_NONE, true},
        {"data0", "rmnet", "", ARPHRD_RAWIP, true},
        {"modem", "", "", ARPHRD_RAWIP, true},
        {"dsl", "", "", ARPHRD_PPP, true},
        {"wwan0", "veth", "", ARPHRD_ETHER, true},
        {"rmnet_data0", "", "", ARPHRD_ETHER, true},
        {"ppp0", "", "", ARPHRD_ETHER, true},
        {"xwwan", "", "", ARPHRD_ETHER, false},
    };
    for (const auto& k : cases) {
        LinkState state = link(5, k.name);
        state.kind = k.kind;
        state.deviceType = k.deviceType;
        state.hardwareType = k.hardware;
        EXPECT_EQ(isCellularLink(state), k.cellular) << k.name;
    }
}

} // namespace
