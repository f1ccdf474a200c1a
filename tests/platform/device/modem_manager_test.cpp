// The built-in telephony source against a real private message bus, with ModemManager played by
// python-dbusmock: what it reports for the modems it finds, and that it neither hangs on a stalled
// service nor starts one.
#include <kestrel/platform/radio_access_technology.hpp>
#include <kestrel/platform/telephony_network_info.hpp>

#include "platform/device/modem_access_technology.hpp"
#include "platform/device/private_bus.hpp"

#include <gtest/gtest.h>

#include <systemd/sd-bus.h>

#include <memory>

using kestrel::platform::ModemManagerTelephony;
namespace bits = kestrel::platform::modem_access;
namespace rat = kestrel::platform::radio_access_technology;

namespace {
constexpr const char* service = "org.freedesktop.ModemManager1";
constexpr const char* root = "/org/freedesktop/ModemManager1";

// Generous: the mock is a Python process on a machine that may be busy; nothing here measures time.
constexpr std::chrono::milliseconds patient{15'000};

std::optional<std::string> askOn(const std::string& address,
                                 std::chrono::milliseconds timeout = patient) {
    return ModemManagerTelephony({address, timeout}).currentRadioAccessTechnology();
}

// A private bus with a mock ModemManager on it: an object manager at ModemManager's path, with
// no modems until a test adds them, and a connection of the test's own to drive the mock.
class MockModemManager : public ::testing::Test {
protected:
    void SetUp() override {
        if (bus_.address().empty()) GTEST_SKIP() << "no private D-Bus bus (dbus-daemon)";
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus_.address().c_str(), 1);
        ASSERT_TRUE(mock_.start(
            {"/usr/bin/python3", "-m", "dbusmock", "--session", "-m", service, root, service}))
            << "cannot start python3 -m dbusmock (package python3-dbusmock)";
        sd_bus* raw = nullptr;
        ASSERT_GE(sd_bus_open_user(&raw), 0) << "cannot connect to the private bus";
        control_.reset(raw);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (sd_bus_call_method(raw, service, root, "org.freedesktop.DBus.Peer", "Ping", nullptr,
                                  nullptr, "") < 0) {
            ASSERT_TRUE(mock_.running()) << "python3 -m dbusmock exited (package python3-dbusmock)";
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the mock never took its name";
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    template <typename... Args>
    void mock(const char* method, const char* signature, Args... args) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        EXPECT_GE(sd_bus_call_method(control_.get(), service, root, "org.freedesktop.DBus.Mock",
                                     method, &error, nullptr, signature, args...),
                  0)
            << method << ": " << (error.message ? error.message : "failed");
        sd_bus_error_free(&error);
    }
    // Adds a modem object whose AccessTechnologies is mask, next to other modem properties that
    // the reader has to skip.
    void addModem(const std::string& path, std::uint32_t mask) {
        mock("AddObject", "ssa{sv}a(ssss)", path.c_str(), "org.freedesktop.ModemManager1.Modem", 4u,
             "Manufacturer", "s", "Kestrel Labs", "State", "i", 8, "AccessTechnologies", "u", mask,
             "SignalQuality", "(ub)", 71u, 1, 0u);
    }
    std::optional<std::string> ask() { return askOn(bus_.address()); }

    kestrel::testing::PrivateBus bus_;
    kestrel::testing::ChildProcess mock_;
    std::unique_ptr<sd_bus, decltype(&sd_bus_flush_close_unref)> control_{
        nullptr, &sd_bus_flush_close_unref};
};
} // namespace

TEST_F(MockModemManager, ReportsTheFirstModemsMostCapableTechnology) {
    EXPECT_EQ(ask(), std::nullopt); // no modem yet
    // Which bits name which technology is tested without a bus. The first modem with service in
    // number order counts.
    addModem(std::string(root) + "/Modem/10", bits::lte);
    addModem(std::string(root) + "/Modem/2", bits::edge);
    addModem(std::string(root) + "/Modem/1", 0);
    EXPECT_EQ(ask(), std::string(rat::Edge));
}

TEST_F(MockModemManager, StalledServiceGivesNoTechnologyOnceTheTimeOutHasPassed) {
    // The service answers with an LTE modem, but only after 10 s: a source that waited for it
    // would report LTE.
    mock("AddMethod", "sssss", "org.freedesktop.DBus.ObjectManager", "GetManagedObjects", "",
         "a{oa{sa{sv}}}",
         "time.sleep(10)\n"
         "ret = {dbus.ObjectPath('/org/freedesktop/ModemManager1/Modem/0'): "
         "{'org.freedesktop.ModemManager1.Modem': {'AccessTechnologies': dbus.UInt32(16384)}}}");
    EXPECT_EQ(askOn(bus_.address(), std::chrono::milliseconds(300)), std::nullopt);
}

TEST(ModemManagerAbsent, NoOrUnreachableServiceGivesNoTechnologyAndStartsNothing) {
    EXPECT_EQ(askOn("not a bus address"), std::nullopt);
    EXPECT_EQ(askOn("unix:path=/nowhere", std::chrono::milliseconds(0)), std::nullopt);

    kestrel::testing::PrivateBus bus;
    if (bus.address().empty()) GTEST_SKIP() << "no private D-Bus bus (dbus-daemon)";
    // ModemManager is installed (activatable) but not running; asking must not start it.
    const auto marker = bus.folder().path() / "activated";
    bus.folder().write("services/org.freedesktop.ModemManager1.service",
                       "[D-BUS Service]\nName=org.freedesktop.ModemManager1\nExec=/usr/bin/touch " +
                           marker.string() + "\n");
    EXPECT_EQ(askOn(bus.address()), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(marker)) << "the query started ModemManager";
}
