#include "platform/network/cellular_link.hpp"
#include "platform/network/flag_letters.hpp"
#include "platform/network/network_snapshot.hpp"

#include <gtest/gtest.h>

#include <linux/rtnetlink.h>
#include <net/if_arp.h>
#include <sys/socket.h>

using namespace kestrel::platform;

namespace {

using namespace kestrel::test::flag_letters;

IpAddress ip(const char* text) { return *IpAddress::parse(text); }

// A link that is up and running.
LinkState link(int index, const char* name) {
    LinkState state;
    state.index = index;
    state.name = name;
    state.hardwareType = ARPHRD_ETHER;
    state.up = state.running = true;
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

TEST(RouteDecision, AnyRouteFollowsTheUsableDefaultRouteWithTheLowestMetric) {
    auto s = laptop();
    EXPECT_EQ(s.flagsFor(ip("0.0.0.0")), R);
    s.routes.push_back(route("0.0.0.0", 0, 3, true, 1, RTN_UNICAST, RT_TABLE_DEFAULT));
    EXPECT_EQ(s.flagsFor(ip("0.0.0.0")), R); // the main table comes first, whatever the metric
    s.routes[2].priority = 900;              // the modem's default route now wins
    EXPECT_EQ(s.flagsFor(ip("0.0.0.0")), R | W);
    s.routes[3].nexthops[0].hasGateway = false; // point to point: no gateway
    EXPECT_EQ(s.flagsFor(ip("0.0.0.0")), R | W | d);

    s = laptop();
    s.links[1].running = false; // Ethernet cable out: the modem's default route is left
    EXPECT_EQ(s.flagsFor(ip("0.0.0.0")), R | W);
    EXPECT_EQ(s.flagsFor(ip("192.0.2.77")), R | W);
    s.links[2].up = false; // modem down too; Ethernet still waits for its carrier
    EXPECT_EQ(s.flagsFor(ip("0.0.0.0")), c);
    s.links[1].up = false; // nothing is set up any more
    EXPECT_EQ(s.flagsFor(ip("0.0.0.0")), 0u);

    s = laptop();
    s.routes[2].priority = 900;
    s.routes.push_back(route("::", 0, 2, true, 50));
    EXPECT_EQ(s.flagsFor(ip("0.0.0.0")), R | W); // IPv4 before IPv6, whatever the metric
    s.routes.erase(s.routes.begin() + 2, s.routes.begin() + 4);
    EXPECT_EQ(s.flagsFor(ip("0.0.0.0")), R); // an IPv6-only network counts too
}

TEST(RouteDecision, AddressTargetsTakeTheLongestMatchingPrefixAndOwnAddressesAreLocal) {
    auto s = laptop();
    EXPECT_EQ(s.flagsFor(ip("192.0.2.77")), R | d); // on the Ethernet link
    EXPECT_EQ(s.flagsFor(ip("198.51.100.1")), R);   // through the default gateway
    EXPECT_EQ(s.flagsFor(ip("2001:db8::1")), 0u);   // no IPv6 route at all
    s.routes.push_back(route("2001:db8::", 32, 2, false, 0, RTN_UNICAST, 100));
    EXPECT_EQ(s.flagsFor(ip("2001:db8::1")), 0u); // nor one the kernel looks up without a rule
    EXPECT_EQ(s.flagsFor(ip("192.0.2.10")), R | l | d);
    EXPECT_EQ(s.flagsFor(ip("127.0.0.1")), R | l | d);
    EXPECT_EQ(s.flagsFor(ip("127.3.4.5")), R | l | d); // the whole loopback range
    EXPECT_EQ(s.flagsFor(ip("::1")), R | l | d);
    s.routes.push_back(route("198.51.100.64", 27, 2, false)); // ends inside a byte
    EXPECT_EQ(s.flagsFor(ip("198.51.100.95")), R | d);
    EXPECT_EQ(s.flagsFor(ip("198.51.100.96")), R);
    s.links[1].up = false; // an address on a link that is down is not reachable
    EXPECT_EQ(s.flagsFor(ip("192.0.2.10")) & l, 0u);
}

TEST(CellularRule, DecidesByDeviceTypeKindHardwareOrName) {
    struct Case {
        const char *name, *kind, *deviceType;
        unsigned hardware;
        bool cellular;
    };
    const Case cases[] = {
        {"eth0", "", "", ARPHRD_ETHER, false},
        {"veth1", "veth", "", ARPHRD_ETHER, false},
        {"wwp0s20f0u6i12", "", "wwan", ARPHRD_ETHER, true}, // renamed USB modem
        {"data0", "rmnet", "", ARPHRD_RAWIP, true},
        {"modem", "", "", ARPHRD_RAWIP, true},
        {"dsl", "", "", ARPHRD_PPP, true},
        {"wwan0", "veth", "", ARPHRD_ETHER, true},
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
