// The descriptor texts: exact formats, the diagonal table, rounding, and the order in which the
// network type consults its sources.
#include "config/device_descriptors.hpp"

#include <kestrel/platform/radio_access_technology.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

namespace d = kestrel::descriptors;
namespace rat = kestrel::platform::radio_access_technology;
using kestrel::descriptors::NetworkLink;

namespace {
struct FakeDevice : kestrel::platform::Device {
    std::string modelText;
    std::string name() const override { return "phone"; }
    std::string model() const override { return modelText; }
    std::string systemName() const override { return "Linux"; }
    std::string systemVersion() const override { return "6"; }
};

// The three sources of the network type, each recording in one log when it is asked.
struct NetworkProbe : kestrel::platform::TelephonyNetworkInfo {
    mutable std::string log;
    NetworkLink link = NetworkLink::wwan;
    std::optional<std::string> technology = std::string(rat::LTE);
    bool notifierThrows = false, radioThrows = false;

    std::optional<std::string> currentRadioAccessTechnology() const override {
        log += "radio ";
        if (radioThrows) throw std::runtime_error("modem gone");
        return technology;
    }
    std::string networkType() {
        return d::networkType(
            [&] {
                log += "notifier ";
                if (notifierThrows) throw std::runtime_error("UnableToSetCallback");
            },
            [&] {
                log += "link ";
                return link;
            },
            *this);
    }
};
} // namespace

TEST(ScreenDiagonal, OnlyExactKnownSizesInEitherOrientationHaveANominalSize) {
    const struct {
        double width, height, scale;
        const char* expected;
    } cases[] = {
        {320, 480, 2, "3.5"},     {568, 320, 2, "4.0"},     {414, 736, 3, "5.5"},
        {768, 1024, 2, "9.7"},    {375, 667, 2, "4.7"},     {375, 667, 3, "5.5"},
        {667, 375, 3, "5.5"},     {667, 375, 2, "4.7"},     {1366, 1024, 2, "12.9"},
        {375, 667, 2.999, "4.7"}, {375, 667, 3.001, "4.7"}, {375, 812, 3, "0"},
        {375, 667.01, 3, "0"},    {375, 666.99, 2, "0"},    {std::nan(""), 667, 2, "0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(d::screenDiagonal({c.width, c.height, c.scale}), c.expected)
            << c.width << " x " << c.height << " @" << c.scale;
    // Width and height, unlike the diagonal, follow the orientation.
    EXPECT_EQ(d::screenWidth({667, 375, 2}), "667");
    EXPECT_EQ(d::screenHeight({667, 375, 2}), "375");
}

TEST(ScreenSize, BoundsRoundToTheNearestWholeNumberHalvesAwayFromZero) {
    const struct {
        double points;
        const char* expected;
    } cases[] = {
        {374.5, "375"},      {374.49, "374"},
        {-0.4, "0"},         {-0.5, "-1"},
        {2.5, "3"},          {1e20, "100000000000000000000"},
        {std::nan(""), "0"}, {std::numeric_limits<double>::infinity(), "0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(d::screenWidth({c.points, 10, 2}), c.expected) << c.points;
        EXPECT_EQ(d::screenHeight({10, c.points, 2}), c.expected) << c.points;
    }
}

TEST(DeviceDescriptors, DeviceTypeAndSystemLanguageFormats) {
    FakeDevice device;
    device.modelText = "Raspberry Pi 4 Model B Rev 1.4";
    EXPECT_EQ(d::deviceType(device), "APPLE RASPBERRY PI 4 MODEL B REV 1.4");
    // Letters outside ASCII are kept byte for byte: the text stays valid UTF-8.
    device.modelText = "Gr\xc3\xa4t";
    EXPECT_EQ(d::deviceType(device), "APPLE GR\xc3\xa4T");

    EXPECT_EQ(d::systemLanguage("zu", "ZA"), "ZU-za");
    EXPECT_EQ(d::systemLanguage("EN", "us"), "EN-us");
    EXPECT_EQ(d::systemLanguage("tr", "TR"), "TR-tr"); // no dotted or dotless i in any locale
    EXPECT_EQ(d::systemLanguage("de", std::nullopt), "DE");
    EXPECT_EQ(d::systemLanguage("de", ""), "DE");
    EXPECT_EQ(d::systemLanguage(std::nullopt, "DE"), "");
    EXPECT_EQ(d::systemLanguage("", "DE"), "");
}

TEST(NetworkType, TheLinkDecidesAndOnlyCellularAsksTheRadio) {
    const struct {
        NetworkLink link;
        std::optional<std::string> technology;
        const char* expected;
        const char* log;
    } cases[] = {
        {NetworkLink::wifi, std::string(rat::LTE), "WiFi", "notifier link "},
        {NetworkLink::notReachable, std::string(rat::LTE), "", "notifier link "},
        {NetworkLink::wwan, std::string(rat::LTE), "Data", "notifier link radio "},
        {NetworkLink::wwan, std::string(rat::GPRS), "Data", "notifier link radio "},
        {NetworkLink::wwan, std::string(rat::NR), "", "notifier link radio "},
        {NetworkLink::wwan, "lte", "", "notifier link radio "},
        {NetworkLink::wwan, std::nullopt, "", "notifier link radio "},
    };
    for (const auto& c : cases) {
        NetworkProbe probe;
        probe.link = c.link;
        probe.technology = c.technology;
        EXPECT_EQ(probe.networkType(), c.expected) << c.technology.value_or("(none)");
        EXPECT_EQ(probe.log, c.log);
    }
}

TEST(NetworkType, FailuresGiveEmptyTextInsteadOfThrowing) {
    NetworkProbe probe;
    probe.notifierThrows = true;
    probe.link = NetworkLink::wifi;
    EXPECT_EQ(probe.networkType(), "");
    EXPECT_EQ(probe.log, "notifier "); // nothing read after the failure

    NetworkProbe broken;
    broken.radioThrows = true;
    EXPECT_EQ(broken.networkType(), "");

    NetworkProbe unknownLink;
    unknownLink.link = static_cast<NetworkLink>(7);
    EXPECT_EQ(unknownLink.networkType(), "");
}
