// One-letter names of the reachability flags, so that a table of cases reads as R | W | c.
#pragma once

#include <kestrel/platform/reachability_flags.hpp>

namespace kestrel::test::flag_letters {

using platform::ReachabilityFlag;
using platform::ReachabilityFlags;

inline constexpr ReachabilityFlags R = ReachabilityFlag::reachable;
inline constexpr ReachabilityFlags W = ReachabilityFlag::isWWAN;
inline constexpr ReachabilityFlags c = ReachabilityFlag::connectionRequired;
inline constexpr ReachabilityFlags t = ReachabilityFlag::transientConnection;
inline constexpr ReachabilityFlags l = ReachabilityFlag::isLocalAddress;
inline constexpr ReachabilityFlags d = ReachabilityFlag::isDirect;

} // namespace kestrel::test::flag_letters
