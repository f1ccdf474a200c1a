#include <kestrel/platform/device.hpp>

#include "platform/device/system_files.hpp"
#include "platform/runtime/instance_slot.hpp"

#include <array>
#include <string_view>
#include <sys/utsname.h>

namespace kestrel::platform {

namespace {
InstanceSlot<Device>& currentSlot() {
    // Never destroyed: the device may be read until the process ends, by any thread.
    static auto* slot = new InstanceSlot<Device>([] { return std::make_shared<SystemDevice>(); });
    return *slot;
}

// One cleaned line of a single-value file, absent when missing or empty.
std::optional<std::string> fileLine(const std::filesystem::path& path) {
    auto content = readSmallFile(path);
    if (!content) return std::nullopt;
    auto line = cleanLine(*content);
    if (line.empty()) return std::nullopt;
    return line;
}

// One cleaned assignment of a KEY=value file, absent when not assigned or empty.
std::optional<std::string> assignment(const std::string& content, std::string_view key) {
    auto value = shellAssignment(content, key);
    if (!value) return std::nullopt;
    auto line = cleanLine(*value);
    if (line.empty()) return std::nullopt;
    return line;
}

std::optional<std::string> assignment(const std::filesystem::path& path, std::string_view key) {
    auto content = readSmallFile(path);
    if (!content) return std::nullopt;
    return assignment(*content, key);
}

// os-release lives in etc/ and, as the vendor's copy, in usr/lib/; the first file found counts.
std::optional<std::string> osRelease(const std::filesystem::path& root, std::string_view key) {
    for (const char* file : {"etc/os-release", "usr/lib/os-release"}) {
        if (auto content = readSmallFile(root / file)) return assignment(*content, key);
    }
    return std::nullopt;
}

enum class UnameField { nodename, sysname, release };

std::optional<std::string> unameField(UnameField field) {
    struct utsname names {};
    if (::uname(&names) != 0) return std::nullopt;
    const char* text = field == UnameField::nodename  ? names.nodename
                       : field == UnameField::sysname ? names.sysname
                                                      : names.release;
    auto line = cleanLine(text);
    if (line.empty()) return std::nullopt;
    return line;
}

// Texts firmware vendors leave in the product name field when they never filled it in.
bool isPlaceholderModel(std::string_view model) {
    constexpr std::array<std::string_view, 3> placeholders{"To Be Filled By O.E.M.",
                                                           "System Product Name", "Default string"};
    for (const auto p : placeholders)
        if (model == p) return true;
    return false;
}
} // namespace

std::shared_ptr<Device> Device::current() { return currentSlot().get(); }

void Device::setCurrent(std::shared_ptr<Device> device) { currentSlot().set(std::move(device)); }

SystemDevice::SystemDevice(std::filesystem::path root) : root_(std::move(root)) {}

std::string SystemDevice::name() const {
    if (auto pretty = assignment(root_ / "etc/machine-info", "PRETTY_HOSTNAME")) return *pretty;
    if (auto host = fileLine(root_ / "proc/sys/kernel/hostname")) return *host;
    if (auto host = unameField(UnameField::nodename)) return *host;
    return "localhost";
}

std::string SystemDevice::model() const {
    auto product = fileLine(root_ / "sys/class/dmi/id/product_name");
    if (product && !isPlaceholderModel(*product)) return *product;
    // The device tree's model is a NUL-terminated string; cleanLine drops the NUL.
    if (auto board = fileLine(root_ / "proc/device-tree/model")) return *board;
    return genericModel;
}

std::string SystemDevice::systemName() const {
    if (auto name = osRelease(root_, "NAME")) return *name;
    return unameField(UnameField::sysname).value_or("Linux");
}

std::string SystemDevice::systemVersion() const {
    if (auto version = osRelease(root_, "VERSION_ID")) return *version;
    return unameField(UnameField::release).value_or("");
}

} // namespace kestrel::platform
