#include "platform/network/network_snapshot.hpp"

#include "platform/network/cellular_link.hpp"

#include <arpa/inet.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <tuple>

namespace kestrel::platform {

namespace {
std::size_t addressLength(int family) { return family == AF_INET ? 4 : 16; }

bool prefixMatches(const IpAddress& network, unsigned length, const IpAddress& address) {
    if (network.family != address.family || length > addressLength(address.family) * 8)
        return false;
    const unsigned whole = length / 8, rest = length % 8;
    if (std::memcmp(network.bytes.data(), address.bytes.data(), whole) != 0) return false;
    if (rest == 0) return true;
    const auto mask = static_cast<std::uint8_t>(0xFF << (8 - rest));
    return (network.bytes[whole] & mask) == (address.bytes[whole] & mask);
}

// Where the kernel looks when no policy rule says otherwise: the main table, then the default one.
int tableRank(std::uint32_t table) {
    if (table == RT_TABLE_MAIN) return 0;
    if (table == RT_TABLE_DEFAULT) return 1;
    return -1;
}

bool isRejectType(std::uint8_t type) {
    return type == RTN_BLACKHOLE || type == RTN_UNREACHABLE || type == RTN_PROHIBIT;
}
} // namespace

bool IpAddress::isUnspecified() const {
    const auto end = bytes.begin() + static_cast<std::ptrdiff_t>(addressLength(family));
    return std::all_of(bytes.begin(), end, [](std::uint8_t b) { return b == 0; });
}

std::optional<IpAddress> IpAddress::parse(const std::string& text) {
    IpAddress address;
    if (inet_pton(AF_INET, text.c_str(), address.bytes.data()) == 1) {
        address.family = AF_INET;
        return address;
    }
    if (inet_pton(AF_INET6, text.c_str(), address.bytes.data()) == 1) {
        address.family = AF_INET6;
        return address;
    }
    return std::nullopt;
}

const LinkState* NetworkSnapshot::link(int index) const {
    for (const auto& l : links)
        if (l.index == index) return &l;
    return nullptr;
}

ReachabilityFlags NetworkSnapshot::flagsFor(const IpAddress& target) const {
    const bool anyRoute = target.isUnspecified();
    auto linkUp = [&](int index) {
        const LinkState* l = link(index);
        return l && l->up;
    };

    if (!anyRoute) {
        bool local = std::any_of(addresses.begin(), addresses.end(), [&](const LocalAddress& a) {
            return a.address == target && linkUp(a.linkIndex);
        });
        // Whole local ranges such as 127.0.0.0/8 are local routes rather than addresses.
        local = local || std::any_of(routes.begin(), routes.end(), [&](const Route& r) {
                    return r.table == RT_TABLE_LOCAL && r.type == RTN_LOCAL &&
                           prefixMatches(r.destination, r.prefixLength, target) &&
                           !r.nexthops.empty() && linkUp(r.nexthops.front().linkIndex);
                });
        if (local)
            return ReachabilityFlag::reachable | ReachabilityFlag::isLocalAddress |
                   ReachabilityFlag::isDirect;
    }

    auto usableNexthop = [&](const Route& r) -> const Nexthop* {
        for (const auto& nh : r.nexthops) {
            const LinkState* l = link(nh.linkIndex);
            if (!nh.dead && l && l->up && l->running) return &nh;
        }
        return nullptr;
    };

    // The route the kernel would take: main table before default, longest prefix, lowest metric;
    // for "any route", a default route, IPv4 before IPv6. Unicast routes whose links cannot carry
    // traffic are passed over; a blackhole, unreachable or prohibit route ends the search.
    const Route* best = nullptr;
    auto rank = [&](const Route& r) {
        const int familyRank = anyRoute && r.family == AF_INET6 ? 1 : 0;
        return std::tuple(tableRank(r.table), familyRank, -int(r.prefixLength), r.priority);
    };
    for (const auto& r : routes) {
        if (tableRank(r.table) < 0) continue;
        const bool matches =
            anyRoute ? r.prefixLength == 0 && (r.family == AF_INET || r.family == AF_INET6)
                     : prefixMatches(r.destination, r.prefixLength, target);
        if (!matches) continue;
        if (!(isRejectType(r.type) || (r.type == RTN_UNICAST && usableNexthop(r)))) continue;
        if (!best || rank(r) < rank(*best)) best = &r;
    }

    if (best && best->type == RTN_UNICAST) {
        const Nexthop* nh = usableNexthop(*best);
        ReachabilityFlags flags = ReachabilityFlag::reachable;
        if (!nh->hasGateway) flags |= ReachabilityFlag::isDirect;
        if (isCellularLink(*link(nh->linkIndex))) flags |= ReachabilityFlag::isWWAN;
        return flags;
    }
    if (best) return 0; // rejected by the routing table

    // No way there now, but an interface that is set up may come up once it has a carrier.
    const bool awaitingCarrier = std::any_of(links.begin(), links.end(), [](const LinkState& l) {
        return l.up && !l.running && !l.loopback;
    });
    return awaitingCarrier ? ReachabilityFlag::connectionRequired : 0;
}

} // namespace kestrel::platform
