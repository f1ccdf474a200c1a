// The built-in telephony source against a real private message bus, with ModemManager played by
// python-dbusmock: what it reports for the modems it finds, and that it neither hangs on a stalled
// service nor starts one.
#include <kestrel/platform/radio_access_technology.hpp>
#include <kestrel/platform/telephony_network_info.hpp>

#include "device/private_bus.hpp"
#include "platform/modem_access_technology.hpp"

#include <gtest/gtest.h>

#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

using kestrel::platform::ModemManagerTelephony;
using kestrel::platform::TelephonyNetworkInfo;
using kestrel::testing::ChildProcess;
using kestrel::testing::PrivateBus;
namespace bits = kestrel::platform::modem_access;
namespace rat = kestrel::platform::radio_access_technology;

namespace {
constexpr const char* service = "org.freedesktop.ModemManager1";
constexpr const char* root = "/org/freedesktop/ModemManager1";
constexpr const char* modemInterface = "org.freedesktop.ModemManager1.Modem";
constexpr const char* mockInterface = "org.freedesktop.DBus.Mock";

// Generous: the mock is a Python process on a machine that may be busy; nothing here measures time.
constexpr std::chrono::milliseconds patient{15'000};

struct BusUnref {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};

// A client connection of the test's own, to drive the mock.
class Controller {
public:
    explicit Controller(const std::string& address) {
        sd_bus* raw = nullptr;
        if (sd_bus_new(&raw) < 0) return;
        bus_.reset(raw);
        if (sd_bus_set_address(raw, address.c_str()) < 0 || sd_bus_set_bus_client(raw, 1) < 0 ||
            sd_bus_start(raw) < 0)
            bus_.reset();
    }
    bool ok() const { return bus_ != nullptr; }

    bool nameHasOwner(const char* name) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        int owned = 0;
        const int r =
            sd_bus_call_method(bus_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                               "org.freedesktop.DBus", "NameHasOwner", &error, &reply, "s", name);
        if (r >= 0) sd_bus_message_read(reply, "b", &owned);
        sd_bus_message_unref(reply);
        sd_bus_error_free(&error);
        return r >= 0 && owned;
    }

    // Adds a modem object whose AccessTechnologies is mask, next to other modem properties that
    // the reader has to skip.
    void addModem(const std::string& path, std::uint32_t mask) {
        call("AddObject", "ssa{sv}a(ssss)", path.c_str(), modemInterface, 4u, "Manufacturer", "s",
             "Kestrel Labs", "State", "i", 8, "AccessTechnologies", "u", mask, "SignalQuality",
             "(ub)", 71u, 1, 0u);
    }
    void addObject(const std::string& path, const char* interface, const char* property,
                   const char* type, auto value) {
        call("AddObject", "ssa{sv}a(ssss)", path.c_str(), interface, 1u, property, type, value, 0u);
    }
    void removeObject(const std::string& path) { call("RemoveObject", "s", path.c_str()); }
    // Replaces ModemManager's GetManagedObjects with Python code of the test's own.
    void replaceManagedObjects(const char* outSignature, const char* code) {
        call("AddMethod", "sssss", "org.freedesktop.DBus.ObjectManager", "GetManagedObjects", "",
             outSignature, code);
    }

private:
    template <typename... Args>
    void call(const char* method, const char* signature, Args... args) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        const int r = sd_bus_call_method(bus_.get(), service, root, mockInterface, method, &error,
                                         nullptr, signature, args...);
        EXPECT_GE(r, 0) << method << ": " << (error.message ? error.message : "failed");
        sd_bus_error_free(&error);
    }

    std::unique_ptr<sd_bus, BusUnref> bus_;
};

std::optional<std::string> askOn(const std::string& address,
                                 std::chrono::milliseconds timeout = patient) {
    return ModemManagerTelephony({address, timeout}).currentRadioAccessTechnology();
}

// A private bus with a mock ModemManager on it: an object manager at ModemManager's path, with
// no modems until a test adds them.
class MockModemManager : public ::testing::Test {
protected:
    void SetUp() override {
        if (bus_.address().empty()) GTEST_SKIP() << "no private D-Bus bus: " << bus_.error();
        const std::string python = "/usr/bin/python3";
        ASSERT_TRUE(
            mock_.start({python, "-m", "dbusmock", "--session", "-m", service, root, service},
                        {"DBUS_SESSION_BUS_ADDRESS=" + bus_.address(), "PYTHONPATH", "PYTHONHOME"}))
            << "cannot start " << python << " -m dbusmock (package python3-dbusmock)";
        controller_ = std::make_unique<Controller>(bus_.address());
        ASSERT_TRUE(controller_->ok()) << "cannot connect to the private bus";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!controller_->nameHasOwner(service)) {
            ASSERT_TRUE(mock_.running()) << "python3 -m dbusmock exited (package python3-dbusmock)";
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the mock never took its name";
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    std::optional<std::string> ask(std::chrono::milliseconds timeout = patient) {
        return askOn(bus_.address(), timeout);
    }

    PrivateBus bus_;
    ChildProcess mock_;
    std::unique_ptr<Controller> controller_;
};
} // namespace

TEST_F(MockModemManager, NoModemGivesNoTechnology) { EXPECT_EQ(ask(), std::nullopt); }

TEST_F(MockModemManager, ReportsTheModemsMostCapableTechnology) {
    const struct {
        std::uint32_t mask;
        std::optional<std::string_view> expected;
    } cases[] = {
        {bits::lte | bits::nr5g, rat::LTE}, // 5G on an LTE anchor
        {bits::nr5g, rat::NR},              // 5G alone: outside the data list
        {bits::umts | bits::hsdpa | bits::hsupa, rat::HSUPA},
        {0, std::nullopt}, // registered nowhere
    };
    const std::string path = std::string(root) + "/Modem/0";
    for (const auto& c : cases) {
        controller_->addModem(path, c.mask);
        const auto got = ask();
        if (c.expected)
            EXPECT_EQ(got, std::string(*c.expected)) << "mask " << c.mask;
        else
            EXPECT_EQ(got, std::nullopt) << "mask " << c.mask;
        controller_->removeObject(path);
    }
}

TEST_F(MockModemManager, FirstModemWithServiceInNumberOrderCounts) {
    controller_->addModem(std::string(root) + "/Modem/10", bits::lte);
    controller_->addModem(std::string(root) + "/Modem/2", bits::edge);
    controller_->addModem(std::string(root) + "/Modem/1", 0); // no service: skipped
    EXPECT_EQ(ask(), std::string(rat::Edge));
}

TEST_F(MockModemManager, OtherObjectsAndMistypedValuesAreIgnored) {
    // A SIM card object carrying a property of the same name is not a modem.
    controller_->addObject(std::string(root) + "/SIM/0", "org.freedesktop.ModemManager1.Sim",
                           "AccessTechnologies", "u", bits::lte);
    // A modem whose mask comes as text is read as a modem without a technology.
    controller_->addObject(std::string(root) + "/Modem/0", modemInterface, "AccessTechnologies",
                           "s", "LTE");
    EXPECT_EQ(ask(), std::nullopt);
    // The well-formed modem after them is still found.
    controller_->addModem(std::string(root) + "/Modem/1", bits::umts);
    EXPECT_EQ(ask(), std::string(rat::WCDMA));
}

TEST_F(MockModemManager, ReplyOfAnotherShapeGivesNoTechnology) {
    controller_->replaceManagedObjects("s", "ret = 'LTE'");
    EXPECT_EQ(ask(), std::nullopt);
    controller_->replaceManagedObjects("a{sv}", "ret = {'AccessTechnologies': dbus.UInt32(16384)}");
    EXPECT_EQ(ask(), std::nullopt);
}

TEST_F(MockModemManager, StalledServiceGivesNoTechnologyOnceTheTimeOutHasPassed) {
    // The service answers with an LTE modem, but only after 10 s: a source that waited for it
    // would report LTE.
    controller_->replaceManagedObjects(
        "a{oa{sa{sv}}}",
        "time.sleep(10)\n"
        "ret = {dbus.ObjectPath('/org/freedesktop/ModemManager1/Modem/0'): "
        "{'org.freedesktop.ModemManager1.Modem': {'AccessTechnologies': dbus.UInt32(16384)}}}");
    EXPECT_EQ(ask(std::chrono::milliseconds(300)), std::nullopt);
}

TEST_F(MockModemManager, SystemBusIsTakenFromTheStandardVariable) {
    controller_->addModem(std::string(root) + "/Modem/0", bits::hsdpa);
    const char* previous = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    const std::string saved = previous ? previous : "";
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus_.address().c_str(), 1);
    ModemManagerTelephony::Options options;
    options.timeout = patient; // busAddress left empty: the system bus
    EXPECT_EQ(ModemManagerTelephony(options).currentRadioAccessTechnology(),
              std::string(rat::HSDPA));
    if (previous)
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", saved.c_str(), 1);
    else
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

TEST(ModemManagerAbsent, BusWithoutModemManagerGivesNoTechnologyAndStartsNothing) {
    PrivateBus bus;
    if (bus.address().empty()) GTEST_SKIP() << "no private D-Bus bus: " << bus.error();
    // ModemManager is installed (activatable) but not running; asking must not start it.
    const auto marker = bus.folder().path() / "activated";
    bus.folder().write("services/org.freedesktop.ModemManager1.service",
                       "[D-BUS Service]\nName=org.freedesktop.ModemManager1\nExec=/usr/bin/touch " +
                           marker.string() + "\n");
    EXPECT_EQ(askOn(bus.address()), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(marker)) << "the query started ModemManager";
}

TEST(ModemManagerAbsent, UnreachableBusGivesNoTechnology) {
    kestrel::testing::TempFolder folder;
    ASSERT_TRUE(folder.ok());
    EXPECT_EQ(askOn("unix:path=" + (folder.path() / "no-bus").string()), std::nullopt);
    EXPECT_EQ(askOn("not a bus address"), std::nullopt);
    EXPECT_EQ(askOn("unix:path=/nowhere", std::chrono::milliseconds(0)), std::nullopt);
}

TEST(ModemManagerAbsent, BuiltInSourceIsModemManagerUntilReplaced) {
    struct Fixed : TelephonyNetworkInfo {
        std::optional<std::string> currentRadioAccessTechnology() const override {
            return std::string(rat::CDMA1x);
        }
    };
    EXPECT_NE(dynamic_cast<ModemManagerTelephony*>(TelephonyNetworkInfo::current().get()), nullptr);
    TelephonyNetworkInfo::setCurrent(std::make_shared<Fixed>());
    EXPECT_EQ(TelephonyNetworkInfo::current()->currentRadioAccessTechnology(),
              std::string(rat::CDMA1x));
    TelephonyNetworkInfo::setCurrent(nullptr);
    EXPECT_NE(dynamic_cast<ModemManagerTelephony*>(TelephonyNetworkInfo::current().get()), nullptr);
}
