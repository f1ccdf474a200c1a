#include <kestrel/platform/telephony_network_info.hpp>

#include "platform/device/modem_access_technology.hpp"
#include "platform/runtime/instance_slot.hpp"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrel::platform {

namespace {
constexpr const char* serviceName = "org.freedesktop.ModemManager1";
constexpr const char* servicePath = "/org/freedesktop/ModemManager1";
constexpr const char* objectManagerInterface = "org.freedesktop.DBus.ObjectManager";
constexpr std::string_view modemInterface = "org.freedesktop.ModemManager1.Modem";
constexpr std::string_view accessTechnologiesProperty = "AccessTechnologies";
constexpr const char* defaultSystemBus = "unix:path=/run/dbus/system_bus_socket";

InstanceSlot<TelephonyNetworkInfo>& currentSlot() {
    // Never destroyed: the radio may be asked about until the process ends, by any thread.
    static auto* slot = new InstanceSlot<TelephonyNetworkInfo>(
        [] { return std::make_shared<ModemManagerTelephony>(); });
    return *slot;
}

struct BusDeleter {
    void operator()(sd_bus* bus) const { sd_bus_close_unref(bus); }
};
struct MessageDeleter {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
struct SlotDeleter {
    void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
using Bus = std::unique_ptr<sd_bus, BusDeleter>;
using Message = std::unique_ptr<sd_bus_message, MessageDeleter>;
using Slot = std::unique_ptr<sd_bus_slot, SlotDeleter>;

struct Modem {
    std::string path;
    std::uint32_t accessTechnologies = 0;
};

// Object paths in ModemManager's numbering order: /Modem/2 before /Modem/10.
bool pathBefore(const Modem& a, const Modem& b) {
    if (a.path.size() != b.path.size()) return a.path.size() < b.path.size();
    return a.path < b.path;
}

// Reads one property value, a variant; keeps it when it is the access technology mask.
bool readProperty(sd_bus_message* m, Modem& modem) {
    const char* name = nullptr;
    if (sd_bus_message_read(m, "s", &name) < 0) return false;
    if (name != accessTechnologiesProperty) return sd_bus_message_skip(m, "v") >= 0;
    char type = 0;
    const char* contents = nullptr;
    if (sd_bus_message_peek_type(m, &type, &contents) < 0 || type != 'v' || !contents) return false;
    if (std::string_view(contents) != "u") return sd_bus_message_skip(m, "v") >= 0;
    return sd_bus_message_read(m, "v", "u", &modem.accessTechnologies) >= 0;
}

// Reads the interfaces of one object, a{sa{sv}}; true when the object is a modem.
bool readInterfaces(sd_bus_message* m, Modem& modem, bool& isModem) {
    if (sd_bus_message_enter_container(m, 'a', "{sa{sv}}") <= 0) return false;
    for (;;) {
        const int r = sd_bus_message_enter_container(m, 'e', "sa{sv}");
        if (r < 0) return false;
        if (r == 0) break;
        const char* interface = nullptr;
        if (sd_bus_message_read(m, "s", &interface) < 0) return false;
        if (interface != modemInterface) {
            if (sd_bus_message_skip(m, "a{sv}") < 0) return false;
        } else {
            isModem = true;
            if (sd_bus_message_enter_container(m, 'a', "{sv}") <= 0) return false;
            for (;;) {
                const int p = sd_bus_message_enter_container(m, 'e', "sv");
                if (p < 0) return false;
                if (p == 0) break;
                if (!readProperty(m, modem) || sd_bus_message_exit_container(m) < 0) return false;
            }
            if (sd_bus_message_exit_container(m) < 0) return false;
        }
        if (sd_bus_message_exit_container(m) < 0) return false;
    }
    return sd_bus_message_exit_container(m) >= 0;
}

// Reads the reply of GetManagedObjects, a{oa{sa{sv}}}; absent for a reply of another shape.
std::optional<std::vector<Modem>> readModems(sd_bus_message* m) {
    std::vector<Modem> modems;
    if (sd_bus_message_enter_container(m, 'a', "{oa{sa{sv}}}") <= 0) return std::nullopt;
    for (;;) {
        const int r = sd_bus_message_enter_container(m, 'e', "oa{sa{sv}}");
        if (r < 0) return std::nullopt;
        if (r == 0) break;
        const char* path = nullptr;
        if (sd_bus_message_read(m, "o", &path) < 0) return std::nullopt;
        Modem modem{path, 0};
        bool isModem = false;
        if (!readInterfaces(m, modem, isModem)) return std::nullopt;
        if (sd_bus_message_exit_container(m) < 0) return std::nullopt;
        if (isModem) modems.push_back(std::move(modem));
    }
    if (sd_bus_message_exit_container(m) < 0) return std::nullopt;
    return modems;
}

struct PendingReply {
    bool done = false;
    Message reply;
};

int onReply(sd_bus_message* reply, void* userdata, sd_bus_error*) {
    auto* pending = static_cast<PendingReply*>(userdata);
    pending->done = true;
    pending->reply.reset(sd_bus_message_ref(reply));
    return 0;
}

// Asks ModemManager for its objects, waiting no longer than the deadline for the connection,
// the authentication, the bus's greeting and the reply together. Absent on any failure.
std::optional<std::vector<Modem>> managedModems(const std::string& address,
                                                std::chrono::steady_clock::time_point deadline) {
    sd_bus* raw = nullptr;
    if (sd_bus_new(&raw) < 0) return std::nullopt;
    Bus bus(raw);
    if (sd_bus_set_address(bus.get(), address.c_str()) < 0) return std::nullopt;
    if (sd_bus_set_bus_client(bus.get(), 1) < 0) return std::nullopt;
    if (sd_bus_start(bus.get()) < 0) return std::nullopt;

    sd_bus_message* rawCall = nullptr;
    if (sd_bus_message_new_method_call(bus.get(), &rawCall, serviceName, servicePath,
                                       objectManagerInterface, "GetManagedObjects") < 0)
        return std::nullopt;
    Message call(rawCall);
    // Where ModemManager is installed but not running, asking must not start it.
    if (sd_bus_message_set_auto_start(call.get(), 0) < 0) return std::nullopt;

    const auto usecLeft = [&]() -> std::uint64_t {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
            deadline - std::chrono::steady_clock::now());
        return left.count() > 0 ? static_cast<std::uint64_t>(left.count()) : 0;
    };
    PendingReply pending;
    sd_bus_slot* rawSlot = nullptr;
    std::uint64_t left = usecLeft();
    if (left == 0) return std::nullopt;
    if (sd_bus_call_async(bus.get(), &rawSlot, call.get(), onReply, &pending, left) < 0)
        return std::nullopt;
    // Released before the bus, so that no reply can reach `pending` after this function.
    Slot slot(rawSlot);

    // sd_bus_call would wait for the authentication without a bound of ours; driving the
    // connection by hand keeps the whole exchange within the deadline.
    while (!pending.done) {
        const int processed = sd_bus_process(bus.get(), nullptr);
        if (processed < 0) return std::nullopt;
        if (processed > 0) continue;
        left = usecLeft();
        if (left == 0) return std::nullopt;
        const int waited = sd_bus_wait(bus.get(), left);
        if (waited < 0 && waited != -EINTR) return std::nullopt;
    }
    slot.reset();
    if (!pending.reply || sd_bus_message_is_method_error(pending.reply.get(), nullptr))
        return std::nullopt;
    return readModems(pending.reply.get());
}

std::string systemBusAddress() {
    // The standard variable of every D-Bus client, not one of the library's own.
    if (const char* fromEnvironment = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
        fromEnvironment && *fromEnvironment)
        return fromEnvironment;
    return defaultSystemBus;
}
} // namespace

std::shared_ptr<TelephonyNetworkInfo> TelephonyNetworkInfo::current() {
    return currentSlot().get();
}

void TelephonyNetworkInfo::setCurrent(std::shared_ptr<TelephonyNetworkInfo> source) {
    currentSlot().set(std::move(source));
}

ModemManagerTelephony::ModemManagerTelephony() : ModemManagerTelephony(Options{}) {}

ModemManagerTelephony::ModemManagerTelephony(Options options) : options_(std::move(options)) {}

std::optional<std::string> ModemManagerTelephony::currentRadioAccessTechnology() const {
    if (options_.timeout.count() <= 0) return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + options_.timeout;
    const std::string address =
        options_.busAddress.empty() ? systemBusAddress() : options_.busAddress;
    auto modems = managedModems(address, deadline);
    if (!modems) return std::nullopt;
    std::sort(modems->begin(), modems->end(), pathBefore);
    for (const auto& modem : *modems)
        if (auto identifier = modem_access::toRadioAccessTechnology(modem.accessTechnologies))
            return std::string(*identifier);
    return std::nullopt;
}

} // namespace kestrel::platform
