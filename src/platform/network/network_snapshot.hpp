// A copy of the kernel's links, routes and local addresses at one moment, and the reachability
// flags it gives for a target. Plain data, so that the decision can be checked without netlink.
#pragma once

#include <kestrel/platform/reachability_flags.hpp>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::platform {

// An IPv4 (first four bytes used) or IPv6 address.
struct IpAddress {
    int family = 0; // AF_INET or AF_INET6
    std::array<std::uint8_t, 16> bytes{};

    bool operator==(const IpAddress&) const = default;
    bool isUnspecified() const;
    static std::optional<IpAddress> parse(const std::string& text);
};

struct LinkState {
    int index = 0;
    std::string name;
    std::string kind;          // rtnetlink link kind ("veth", "wwan", "rmnet"...), empty if none
    std::string deviceType;    // the kernel's device type ("wwan", "wlan"...), empty if unknown
    unsigned hardwareType = 0; // ARPHRD_*
    bool up = false;           // administratively up (IFF_UP)
    bool running = false;      // carrier and operational (IFF_RUNNING)
    bool loopback = false;

    bool operator==(const LinkState&) const = default;
};

struct Nexthop {
    int linkIndex = 0;
    bool hasGateway = false;
    bool dead = false; // marked dead or link-down by the kernel

    bool operator==(const Nexthop&) const = default;
};

struct Route {
    int family = 0;
    std::uint32_t table = 0; // RT_TABLE_*
    std::uint8_t type = 0;   // RTN_*
    std::uint8_t prefixLength = 0;
    IpAddress destination;
    std::uint32_t priority = 0; // metric: lower wins among routes of the same length
    std::vector<Nexthop> nexthops;

    bool operator==(const Route&) const = default;
};

struct LocalAddress {
    IpAddress address;
    int linkIndex = 0;

    bool operator==(const LocalAddress&) const = default;
};

struct NetworkSnapshot {
    std::vector<LinkState> links;
    std::vector<Route> routes;
    std::vector<LocalAddress> addresses;

    bool operator==(const NetworkSnapshot&) const = default;

    const LinkState* link(int index) const;
    // The flags for one address; the unspecified address (0.0.0.0 or ::) means "any route".
    ReachabilityFlags flagsFor(const IpAddress& target) const;
};

} // namespace kestrel::platform
