// ModemManager's access technology bits mapped to radio access technology identifiers.
#include "platform/device/modem_access_technology.hpp"

#include <kestrel/platform/radio_access_technology.hpp>

#include <gtest/gtest.h>

namespace bits = kestrel::platform::modem_access;
namespace rat = kestrel::platform::radio_access_technology;
using bits::toRadioAccessTechnology;

TEST(ModemAccessTechnology, TheMostCapableTechnologyNamesTheMask) {
    const struct {
        std::uint32_t mask;
        std::optional<std::string_view> expected;
    } cases[] = {
        {bits::umts, rat::WCDMA},
        {bits::umts | bits::hsdpa | bits::hsupa, rat::HSUPA},
        {bits::lteNbIot, rat::LTE},
        {bits::nr5g, rat::NR},
        {bits::lte | bits::nr5g, rat::LTE}, // 5G on an LTE anchor
        {bits::gsm | bits::gprs | bits::edge, rat::Edge},
        {0xffffffffu, rat::LTE},
        // No service, an analogue line or unknown bits alone: no technology.
        {0, std::nullopt},
        {bits::pots | (1u << 31), std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(toRadioAccessTechnology(c.mask), c.expected) << c.mask;
}
