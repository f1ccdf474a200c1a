// The descriptor texts: exact formats, the diagonal table, rounding, and the order in which the
// network type consults its sources.
#include "config/device_descriptors.hpp"

#include <kestrel/platform/radio_access_technology.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace d = kestrel::descriptors;
namespace rat = kestrel::platform::radio_access_technology;
using kestrel::descriptors::NetworkLink;
using kestrel::platform::ScreenMetrics;

namespace {
class FakeDevice : public kestrel::platform::Device {
public:
    std::string modelText = "iPhone";
    std::string name() const override { return "phone"; }
    std::string model() const override { return modelText; }
    std::string systemName() const override { return "Linux"; }
    std::string systemVersion() const override { return "6"; }
};

// Records every question asked of it, in order, in a shared log.
class FakeTelephony : public kestrel::platform::TelephonyNetworkInfo {
public:
    FakeTelephony(std::vector<std::string>& log, std::optional<std::string> technology)
        : log_(log), technology_(std::move(technology)) {}
    std::optional<std::string> currentRadioAccessTechnology() const override {
        log_.push_back("radio");
        if (throws) throw std::runtime_error("modem gone");
        return technology_;
    }
    bool throws = false;

private:
    std::vector<std::string>& log_;
    std::optional<std::string> technology_;
};

struct NetworkProbe {
    std::vector<std::string> log;
    NetworkLink link = NetworkLink::wwan;
    bool notifierThrows = false;

    std::string networkType(const FakeTelephony& telephony) {
        return d::networkType(
            [&] {
                log.push_back("notifier");
                if (notifierThrows) throw std::runtime_error("UnableToSetCallback");
            },
            [&] {
                log.push_back("link");
                return link;
            },
            telephony);
    }
};
} // namespace

TEST(ScreenDiagonal, KnownLongerSidesGiveTheirNominalSize) {
    const struct {
        double width, height, scale;
        const char* expected;
    } cases[] = {
        {320, 480, 2, "3.5"},  {320, 568, 2, "4.0"},    {375, 667, 2, "4.7"},
        {375, 667, 3, "5.5"},  {375, 667, 1, "4.7"},    {414, 736, 3, "5.5"},
        {768, 1024, 2, "9.7"}, {1024, 1366, 2, "12.9"}, {736, 414, 2, "5.5"},
        {1024, 768, 3, "9.7"}, {1366, 1024, 2, "12.9"}, {480, 480, 1, "3.5"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(d::screenDiagonal({c.width, c.height, c.scale}), c.expected)
            << c.width << " x " << c.height << " @" << c.scale;
}

TEST(ScreenDiagonal, OrientationDoesNotMatter) {
    for (const double scale : {2.0, 3.0}) {
        EXPECT_EQ(d::screenDiagonal({667, 375, scale}), d::screenDiagonal({375, 667, scale}));
    }
    EXPECT_EQ(d::screenDiagonal({667, 375, 3}), "5.5");
    EXPECT_EQ(d::screenDiagonal({667, 375, 2}), "4.7");
    // Width and height, unlike the diagonal, follow the orientation.
    EXPECT_EQ(d::screenWidth({667, 375, 2}), "667");
    EXPECT_EQ(d::screenHeight({667, 375, 2}), "375");
}

TEST(ScreenDiagonal, OnlyExactSizesMatch) {
    const ScreenMetrics others[] = {
        {375, 812, 3},
        {834, 1112, 2},
        {0, 0, 1},
        {375.5, 667.5, 2},
        {375, 667.01, 3},
        {375, 666.99, 2},
        {480.5, 320, 2},
        {-667, -375, 2},
        {std::nan(""), 667, 2},
        {667, std::nan(""), 2},
        {std::numeric_limits<double>::infinity(), 667, 2},
    };
    for (const auto& m : others)
        EXPECT_EQ(d::screenDiagonal(m), "0") << m.width << " x " << m.height << " @" << m.scale;
    // The scale is compared exactly too: only 3 turns a 667-point screen into "5.5".
    EXPECT_EQ(d::screenDiagonal({375, 667, 2.999}), "4.7");
    EXPECT_EQ(d::screenDiagonal({375, 667, 3.001}), "4.7");
}

TEST(ScreenSize, BoundsRoundToTheNearestWholeNumberHalvesAwayFromZero) {
    const struct {
        double points;
        const char* expected;
    } cases[] = {
        {375, "375"},
        {374.5, "375"},
        {374.49, "374"},
        {666.6, "667"},
        {0.5, "1"},
        {0.49, "0"},
        {0, "0"},
        {-0.4, "0"},
        {-0.5, "-1"},
        {-1.5, "-2"},
        {2.5, "3"},
        {1e20, "100000000000000000000"},
        {4503599627370497.0, "4503599627370497"},
        {std::nan(""), "0"},
        {std::numeric_limits<double>::infinity(), "0"},
        {-std::numeric_limits<double>::infinity(), "0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(d::screenWidth({c.points, 10, 2}), c.expected) << c.points;
        EXPECT_EQ(d::screenHeight({10, c.points, 2}), c.expected) << c.points;
    }
}

TEST(DeviceDescriptors, DeviceTypeIsTheModelUpperCasedAfterTheMakersName) {
    FakeDevice device;
    const struct {
        const char* model;
        const char* expected;
    } cases[] = {
        {"iPad", "APPLE IPAD"},
        {"iPhone", "APPLE IPHONE"},
        {"Raspberry Pi 4 Model B Rev 1.4", "APPLE RASPBERRY PI 4 MODEL B REV 1.4"},
        {"Computer", "APPLE COMPUTER"},
        // Letters outside ASCII are kept byte for byte: the text stays valid UTF-8.
        {"Gr\xc3\xa4t", "APPLE GR\xc3\xa4T"},
        {"", "APPLE "},
    };
    for (const auto& c : cases) {
        device.modelText = c.model;
        EXPECT_EQ(d::deviceType(device), c.expected);
    }
}

TEST(DeviceDescriptors, OperatingSystemIsTheValueTheServiceKnows) {
    EXPECT_EQ(d::operatingSystem(), "iOS");
}

TEST(DeviceDescriptors, SystemLanguageIsLanguageUpperDashRegionLower) {
    EXPECT_EQ(d::systemLanguage("en", "US"), "EN-us");
    EXPECT_EQ(d::systemLanguage("EN", "us"), "EN-us");
    EXPECT_EQ(d::systemLanguage("pt", "BR"), "PT-br");
    EXPECT_EQ(d::systemLanguage("gsw", "CH"), "GSW-ch");
    EXPECT_EQ(d::systemLanguage("es", "419"), "ES-419");
    EXPECT_EQ(d::systemLanguage("tr", "TR"), "TR-tr"); // no dotted or dotless i in any locale
}

TEST(DeviceDescriptors, SystemLanguageWithoutRegionIsTheLanguageAlone) {
    EXPECT_EQ(d::systemLanguage("de", std::nullopt), "DE");
    EXPECT_EQ(d::systemLanguage("de", ""), "DE");
    EXPECT_EQ(d::systemLanguage(std::nullopt, "DE"), "");
    EXPECT_EQ(d::systemLanguage("", "DE"), "");
    EXPECT_EQ(d::systemLanguage(std::nullopt, std::nullopt), "");
}

TEST(NetworkType, WifiWinsOverAnyRadioAndLeavesTheRadioAlone) {
    NetworkProbe probe;
    probe.link = NetworkLink::wifi;
    const FakeTelephony lte(probe.log, std::string(rat::LTE));
    EXPECT_EQ(probe.networkType(lte), "WiFi");
    EXPECT_EQ(probe.log, (std::vector<std::string>{"notifier", "link"}));
}

TEST(NetworkType, NotReachableIsEmptyWhateverTheRadioSays) {
    NetworkProbe probe;
    probe.link = NetworkLink::notReachable;
    const FakeTelephony lte(probe.log, std::string(rat::LTE));
    EXPECT_EQ(probe.networkType(lte), "");
    EXPECT_EQ(probe.log, (std::vector<std::string>{"notifier", "link"}));
}

TEST(NetworkType, CellularWithAListedTechnologyIsData) {
    for (const auto technology :
         {rat::GPRS, rat::Edge, rat::CDMA1x, rat::WCDMA, rat::HSDPA, rat::HSUPA, rat::CDMAEVDORev0,
          rat::CDMAEVDORevA, rat::CDMAEVDORevB, rat::eHRPD, rat::LTE}) {
        NetworkProbe probe;
        const FakeTelephony radio(probe.log, std::string(technology));
        EXPECT_EQ(probe.networkType(radio), "Data") << technology;
        EXPECT_EQ(probe.log, (std::vector<std::string>{"notifier", "link", "radio"}));
    }
}

TEST(NetworkType, CellularWithoutAListedTechnologyIsEmpty) {
    const std::optional<std::string> others[] = {
        std::string(rat::NR), std::string(rat::GSM), "lte", "LTE ", "", "UMTS", std::nullopt};
    for (const auto& technology : others) {
        NetworkProbe probe;
        const FakeTelephony radio(probe.log, technology);
        EXPECT_EQ(probe.networkType(radio), "") << technology.value_or("(none)");
    }
}

TEST(NetworkType, FailuresGiveEmptyTextInsteadOfThrowing) {
    NetworkProbe probe;
    probe.notifierThrows = true;
    probe.link = NetworkLink::wifi;
    const FakeTelephony lte(probe.log, std::string(rat::LTE));
    EXPECT_EQ(probe.networkType(lte), "");
    EXPECT_EQ(probe.log, std::vector<std::string>{"notifier"}); // nothing read after the failure

    NetworkProbe cellular;
    FakeTelephony broken(cellular.log, std::string(rat::LTE));
    broken.throws = true;
    EXPECT_EQ(cellular.networkType(broken), "");

    NetworkProbe unknownLink;
    unknownLink.link = static_cast<NetworkLink>(7);
    const FakeTelephony radio(unknownLink.log, std::string(rat::LTE));
    EXPECT_EQ(unknownLink.networkType(radio), "");
}

TEST(NetworkType, StartsTheNotifierAtEveryCallBeforeReadingTheLink) {
    // Starting notification once is the caller's business; this function must not skip it.
    NetworkProbe probe;
    const FakeTelephony lte(probe.log, std::string(rat::LTE));
    EXPECT_EQ(probe.networkType(lte), "Data");
    probe.link = NetworkLink::wifi;
    EXPECT_EQ(probe.networkType(lte), "WiFi");
    EXPECT_EQ(probe.log,
              (std::vector<std::string>{"notifier", "link", "radio", "notifier", "link"}));
}
