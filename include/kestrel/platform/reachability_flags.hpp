/// \file
/// Reachability flags of a network target, and the interface of anything that can report them for
/// one target and call back when they change.
#pragma once

#include <kestrel/platform/dispatch_queue.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace kestrel::platform {

/// A set of the bits below; other bits are never set by the library and are ignored.
using ReachabilityFlags = std::uint32_t;

/// The bits of ReachabilityFlags, with the values hosts and tests may rely on.
struct ReachabilityFlag {
    /// A connection would be a transient one. Never set by NetworkReachability.
    static constexpr ReachabilityFlags transientConnection = 0x1;
    /// The target can be reached with the current configuration.
    static constexpr ReachabilityFlags reachable = 0x2;
    /// A connection must be made first.
    static constexpr ReachabilityFlags connectionRequired = 0x4;
    /// A connection is made on traffic. Never set by NetworkReachability.
    static constexpr ReachabilityFlags connectionOnTraffic = 0x8;
    /// The user must act before a connection. Never set by NetworkReachability.
    static constexpr ReachabilityFlags interventionRequired = 0x10;
    /// A connection is made on demand. Never set by NetworkReachability.
    static constexpr ReachabilityFlags connectionOnDemand = 0x20;
    /// The target is one of this machine's own addresses.
    static constexpr ReachabilityFlags isLocalAddress = 0x10000;
    /// The target is reached without a gateway.
    static constexpr ReachabilityFlags isDirect = 0x20000;
    /// The path is a cellular link.
    static constexpr ReachabilityFlags isWWAN = 0x40000;
};

/// Reports the flags of one target. NetworkReachability is the built-in implementation; a test or
/// a host may hand a monitor any other one. Implementations must be safe to call from any thread.
class ReachabilityFlagSource {
public:
    /// Receives the flags as they were when the change was noticed.
    using Callback = std::function<void(ReachabilityFlags flags)>;

    virtual ~ReachabilityFlagSource() = default;

    /// The current flags, or absent when they cannot be read.
    virtual std::optional<ReachabilityFlags> getFlags() = 0;
    /// Sets the function called when the flags change; an empty function removes it. Calls run on
    /// the queue given to setDispatchQueue, and only while both are set. Returns false if refused.
    virtual bool setCallback(Callback callback) = 0;
    /// Sets the queue on which the callback runs; null stops callbacks. Returns false if refused.
    virtual bool setDispatchQueue(std::shared_ptr<DispatchQueue> queue) = 0;
};

} // namespace kestrel::platform
