/// \file
/// Identifiers of a cellular radio's access technology, as TelephonyNetworkInfo reports them.
/// The texts are the library's own; compare with these constants, never with literals.
#pragma once

#include <string_view>

namespace kestrel::platform::radio_access_technology {

// Second generation.

/// GPRS.
inline constexpr std::string_view GPRS = "GPRS";
/// EDGE.
inline constexpr std::string_view Edge = "Edge";
/// CDMA2000 1xRTT.
inline constexpr std::string_view CDMA1x = "CDMA1x";

// Third generation.

/// UMTS.
inline constexpr std::string_view WCDMA = "WCDMA";
/// HSDPA.
inline constexpr std::string_view HSDPA = "HSDPA";
/// HSUPA; the built-in source also reports HSPA and HSPA+ as this.
inline constexpr std::string_view HSUPA = "HSUPA";
/// CDMA2000 EV-DO revision 0.
inline constexpr std::string_view CDMAEVDORev0 = "CDMAEVDORev0";
/// CDMA2000 EV-DO revision A.
inline constexpr std::string_view CDMAEVDORevA = "CDMAEVDORevA";
/// CDMA2000 EV-DO revision B.
inline constexpr std::string_view CDMAEVDORevB = "CDMAEVDORevB";
/// eHRPD; the built-in source never reports it.
inline constexpr std::string_view eHRPD = "eHRPD";

// Fourth generation.

/// LTE, in any variant.
inline constexpr std::string_view LTE = "LTE";

// Reported by the built-in source, but not counted as a cellular data link by the descriptors.

/// GSM without packet data. Not counted as a cellular data link by the descriptors.
inline constexpr std::string_view GSM = "GSM";
/// A 5G radio with no LTE anchor. Not counted as a cellular data link by the descriptors.
inline constexpr std::string_view NR = "NR";

} // namespace kestrel::platform::radio_access_technology
