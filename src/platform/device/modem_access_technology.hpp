// ModemManager's access technology bit mask (the modem's AccessTechnologies property) and its
// mapping to the library's radio access technology identifiers.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrel::platform::modem_access {

// Bits of ModemManager's MMModemAccessTechnology.
inline constexpr std::uint32_t pots = 1u << 0;
inline constexpr std::uint32_t gsm = 1u << 1;
inline constexpr std::uint32_t gsmCompact = 1u << 2;
inline constexpr std::uint32_t gprs = 1u << 3;
inline constexpr std::uint32_t edge = 1u << 4;
inline constexpr std::uint32_t umts = 1u << 5;
inline constexpr std::uint32_t hsdpa = 1u << 6;
inline constexpr std::uint32_t hsupa = 1u << 7;
inline constexpr std::uint32_t hspa = 1u << 8;
inline constexpr std::uint32_t hspaPlus = 1u << 9;
inline constexpr std::uint32_t cdma1xRtt = 1u << 10;
inline constexpr std::uint32_t evdo0 = 1u << 11;
inline constexpr std::uint32_t evdoA = 1u << 12;
inline constexpr std::uint32_t evdoB = 1u << 13;
inline constexpr std::uint32_t lte = 1u << 14;
inline constexpr std::uint32_t nr5g = 1u << 15;
inline constexpr std::uint32_t lteCatM = 1u << 16;
inline constexpr std::uint32_t lteNbIot = 1u << 17;

// The identifier of the most capable technology in the mask (see ModemManagerTelephony); absent
// for no technology (a modem without service), an analogue line alone, or unknown bits alone.
std::optional<std::string_view> toRadioAccessTechnology(std::uint32_t mask);

} // namespace kestrel::platform::modem_access
