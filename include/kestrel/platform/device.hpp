/// \file
/// The device the library runs on: its user-visible name, model, and operating system name and
/// version, as a replaceable source, and the built-in one that reads them from the system.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace kestrel::platform {

/// Where the device descriptors come from. Implementations must be safe to call from any thread;
/// each call reads afresh (nothing is cached), so a renamed host shows at the next call.
class Device {
public:
    virtual ~Device() = default;

    /// The user-visible device name. Never empty.
    virtual std::string name() const = 0;
    /// The machine's model name, or a generic word for the kind of device. Never empty.
    virtual std::string model() const = 0;
    /// The operating system's name ("Debian GNU/Linux").
    virtual std::string systemName() const = 0;
    /// The operating system's version ("12").
    virtual std::string systemVersion() const = 0;

    /// The device the library describes: the one installed with setCurrent, else a SystemDevice
    /// of the root folder. Any thread.
    static std::shared_ptr<Device> current();
    /// Installs the device the library describes from now on (a host's own values, a test's
    /// fake); null restores the built-in SystemDevice. Any thread.
    static void setCurrent(std::shared_ptr<Device> device);
};

/// The built-in device of a Linux system. All files are read below root ("/" for the running
/// system; a test hands in a folder of its own), each at most 64 KiB, regular files only:
/// \verbatim
///   name           PRETTY_HOSTNAME of etc/machine-info, else the kernel's host name
///                  (proc/sys/kernel/hostname, else uname), else "localhost"
///   model          sys/class/dmi/id/product_name, else proc/device-tree/model, else "Computer";
///                  firmware placeholders ("To Be Filled By O.E.M.", "System Product Name",
///                  "Default string") count as no name
///   systemName     NAME of etc/os-release (else usr/lib/os-release), else uname's system name
///   systemVersion  VERSION_ID of the same file, else uname's kernel release
/// \endverbatim
/// Values have surrounding white space and control characters removed.
class SystemDevice final : public Device {
public:
    /// Reads below root; a missing or unreadable root just gives the fallbacks.
    explicit SystemDevice(std::filesystem::path root = "/");

    std::string name() const override;
    std::string model() const override;
    std::string systemName() const override;
    std::string systemVersion() const override;

    /// The generic model word used when the kernel names no model.
    static constexpr const char* genericModel = "Computer";

private:
    std::filesystem::path root_;
};

} // namespace kestrel::platform
