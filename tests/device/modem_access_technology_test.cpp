// ModemManager's access technology bits mapped to radio access technology identifiers.
#include "platform/modem_access_technology.hpp"

#include <kestrel/platform/radio_access_technology.hpp>

#include <gtest/gtest.h>

namespace bits = kestrel::platform::modem_access;
namespace rat = kestrel::platform::radio_access_technology;
using bits::toRadioAccessTechnology;

TEST(ModemAccessTechnology, EachTechnologyAloneHasItsIdentifier) {
    const struct {
        std::uint32_t mask;
        std::string_view expected;
    } cases[] = {
        {bits::gsm, rat::GSM},
        {bits::gsmCompact, rat::GSM},
        {bits::gprs, rat::GPRS},
        {bits::edge, rat::Edge},
        {bits::umts, rat::WCDMA},
        {bits::hsdpa, rat::HSDPA},
        {bits::hsupa, rat::HSUPA},
        {bits::hspa, rat::HSUPA},
        {bits::hspaPlus, rat::HSUPA},
        {bits::cdma1xRtt, rat::CDMA1x},
        {bits::evdo0, rat::CDMAEVDORev0},
        {bits::evdoA, rat::CDMAEVDORevA},
        {bits::evdoB, rat::CDMAEVDORevB},
        {bits::lte, rat::LTE},
        {bits::nr5g, rat::NR},
        {bits::lteCatM, rat::LTE},
        {bits::lteNbIot, rat::LTE},
    };
    for (const auto& c : cases) EXPECT_EQ(toRadioAccessTechnology(c.mask), c.expected) << c.mask;
}

TEST(ModemAccessTechnology, CombinationsGiveTheMostCapableAndNoServiceNone) {
    EXPECT_EQ(toRadioAccessTechnology(bits::lte | bits::nr5g), rat::LTE);
    EXPECT_EQ(toRadioAccessTechnology(bits::nr5g | bits::umts), rat::NR);
    EXPECT_EQ(toRadioAccessTechnology(bits::umts | bits::hsdpa), rat::HSDPA);
    EXPECT_EQ(toRadioAccessTechnology(bits::umts | bits::hsdpa | bits::hsupa), rat::HSUPA);
    EXPECT_EQ(toRadioAccessTechnology(bits::gsm | bits::gprs | bits::edge), rat::Edge);
    EXPECT_EQ(toRadioAccessTechnology(bits::cdma1xRtt | bits::evdoA), rat::CDMAEVDORevA);
    EXPECT_EQ(toRadioAccessTechnology(0xffffffffu), rat::LTE);
    // No service, an analogue line or unknown bits alone: no technology.
    EXPECT_EQ(toRadioAccessTechnology(0), std::nullopt);
    EXPECT_EQ(toRadioAccessTechnology(bits::pots), std::nullopt);
    EXPECT_EQ(toRadioAccessTechnology(1u << 20), std::nullopt);
    EXPECT_EQ(toRadioAccessTechnology(bits::pots | (1u << 31)), std::nullopt);
}
