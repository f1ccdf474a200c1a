/// \file
/// NetworkReachability: the flags of a network target (an address, any route, or a host name) read
/// from the kernel's routes, links and addresses, with a callback when they change.
#pragma once

#include <kestrel/platform/reachability_flags.hpp>

#include <memory>
#include <netinet/in.h>
#include <string_view>

namespace kestrel::platform {

/// The built-in flag source: the flags of one network target (an address, any route, or a host
/// name) read from the kernel's routes, links and addresses, with a callback when they change.
///
/// Flags on Linux:
/// \verbatim
///   reachable           the kernel has a route to the target whose interface is up and running
///                       (for the zero address: a default route, IPv4 first, then IPv6);
///   isDirect            that route has no gateway (the target is on the link, or the link is
///                       point to point), or the target is a local address;
///   isLocalAddress      the target is one of this machine's own addresses;
///   isWWAN              that route leaves through a cellular interface (WWAN, rmnet or PPP
///                       links; the one rule is isCellularLink in
///                       src/platform/network/cellular_link.hpp);
///   connectionRequired  no usable route, but an interface is administratively up and waiting
///                       for its carrier; or a host name that does not resolve.
/// \endverbatim
/// The other bits are never set. Changes are followed through rtnetlink events on one thread shared
/// by all targets; nothing is polled and no traffic is sent (except name look-ups for name
/// targets).
class NetworkReachability final : public ReachabilityFlagSource {
public:
    /// A target for an IPv4 address; 0.0.0.0 means "any route" (a default route of either family).
    /// Gives null when the kernel's routing information cannot be read (no rtnetlink), or when
    /// the family is not AF_INET.
    static std::shared_ptr<NetworkReachability> createWithAddress(const sockaddr_in& address);
    /// The same for an IPv6 address; :: means "any route". Null when the family is not AF_INET6.
    static std::shared_ptr<NetworkReachability> createWithAddress(const sockaddr_in6& address);
    /// A target for a host name, resolved on a worker thread (again whenever the network changes).
    /// Gives null for an empty name, a name with a NUL byte or longer than 253 bytes, or when the
    /// routing information cannot be read. An IP address literal is taken as that address.
    static std::shared_ptr<NetworkReachability> createWithName(std::string_view hostname);

    ~NetworkReachability() override;
    NetworkReachability(const NetworkReachability&) = delete;
    NetworkReachability& operator=(const NetworkReachability&) = delete;

    /// The current flags. For a host name whose first resolution has not finished, waits for it at
    /// most a short bound (100 ms), then gives absent; the callback runs once it has finished.
    std::optional<ReachabilityFlags> getFlags() override;
    /// The callback runs on the given queue, once per change of this target's flags (kernel events
    /// in quick succession are coalesced). Replacing or removing it waits for a call under way on
    /// another thread, so none runs once this returns; from inside the callback it returns at once.
    /// Never refuses. Destroying the target removes the callback the same way.
    bool setCallback(Callback callback) override;
    bool setDispatchQueue(std::shared_ptr<DispatchQueue> queue) override;

private:
    struct Impl;
    explicit NetworkReachability(std::shared_ptr<Impl> impl);
    std::shared_ptr<Impl> impl_;
};

} // namespace kestrel::platform
