#include "platform/device/modem_access_technology.hpp"

#include <kestrel/platform/radio_access_technology.hpp>

#include <array>
#include <utility>

namespace kestrel::platform::modem_access {

std::optional<std::string_view> toRadioAccessTechnology(std::uint32_t mask) {
    namespace rat = radio_access_technology;
    // Most capable first: a modem lists every technology its current link combines.
    static constexpr std::array<std::pair<std::uint32_t, std::string_view>, 12> ranking{{
        {lte | lteCatM | lteNbIot, rat::LTE},
        {nr5g, rat::NR},
        {evdoB, rat::CDMAEVDORevB},
        {evdoA, rat::CDMAEVDORevA},
        {evdo0, rat::CDMAEVDORev0},
        // HSPA is high-speed packet access in both directions, and an HSUPA uplink always comes
        // with an HSDPA downlink: the uplink name covers both.
        {hspaPlus | hspa | hsupa, rat::HSUPA},
        {hsdpa, rat::HSDPA},
        {umts, rat::WCDMA},
        {cdma1xRtt, rat::CDMA1x},
        {edge, rat::Edge},
        {gprs, rat::GPRS},
        {gsm | gsmCompact, rat::GSM},
    }};
    for (const auto& [bits, identifier] : ranking)
        if (mask & bits) return identifier;
    return std::nullopt;
}

} // namespace kestrel::platform::modem_access
