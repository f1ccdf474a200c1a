/// \file
/// Identifiers of a cellular radio's access technology, as TelephonyNetworkInfo reports them.
/// The texts are the library's own; compare with these constants, never with literals.
#pragma once

#include <string_view>

namespace kestrel::platform::radio_access_technology {

/// Second generation.
inline constexpr std::string_view GPRS = "GPRS";
inline constexpr std::string_view Edge = "Edge";
inline constexpr std::string_view CDMA1x = "CDMA1x";
/// Third generation.
inline constexpr std::string_view WCDMA = "WCDMA";
inline constexpr std::string_view HSDPA = "HSDPA";
inline constexpr std::string_view HSUPA = "HSUPA";
inline constexpr std::string_view CDMAEVDORev0 = "CDMAEVDORev0";
inline constexpr std::string_view CDMAEVDORevA = "CDMAEVDORevA";
inline constexpr std::string_view CDMAEVDORevB = "CDMAEVDORevB";
inline constexpr std::string_view eHRPD = "eHRPD";
/// Fourth generation.
inline constexpr std::string_view LTE = "LTE";

/// Reported by the built-in source, but not counted as a cellular data link by the descriptors:
/// GSM without packet data, and a 5G radio with no LTE anchor.
inline constexpr std::string_view GSM = "GSM";
inline constexpr std::string_view NR = "NR";

} // namespace kestrel::platform::radio_access_technology
