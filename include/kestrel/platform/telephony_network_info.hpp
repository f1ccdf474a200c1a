/// \file
/// The cellular radio's current access technology, as a replaceable source, and the built-in one
/// that asks ModemManager over D-Bus.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace kestrel::platform {

/// Where the radio access technology comes from. Implementations must be safe to call from any
/// thread and must not block for long: the descriptors call it while a request is being built.
class TelephonyNetworkInfo {
public:
    virtual ~TelephonyNetworkInfo() = default;

    /// One of the radio_access_technology identifiers, or absent when there is no cellular radio
    /// or it has no service. Runs on the caller's thread.
    virtual std::optional<std::string> currentRadioAccessTechnology() const = 0;

    /// The installed source, else a ModemManagerTelephony on the system bus. Any thread.
    static std::shared_ptr<TelephonyNetworkInfo> current();
    /// Installs another source (a host's own, a test's fake); null restores the built-in one.
    /// Any thread.
    static void setCurrent(std::shared_ptr<TelephonyNetworkInfo> source);
};

/// Reads ModemManager's modems over D-Bus (org.freedesktop.ModemManager1, its object manager) and
/// reports the access technology of the first modem, in object path order, that has one. The
/// technology bit mask maps to the identifier of the most capable technology in it: any LTE
/// variant gives LTE (also alongside 5G, which then runs on an LTE anchor), 5G alone gives NR,
/// HSPA and HSPA+ give HSUPA, UMTS gives WCDMA, 1xRTT gives CDMA1x, EV-DO its revision, and GSM
/// without GPRS or EDGE gives GSM. ModemManager never reports eHRPD.
///
/// Each call opens its own connection, so calls from several threads never share one. The call
/// never starts ModemManager through bus activation, and gives up (absent) once the time-out has
/// passed, whatever the bus or the service is doing. Absent, too, where the bus or ModemManager is
/// not there or answers with anything unexpected.
class ModemManagerTelephony final : public TelephonyNetworkInfo {
public:
    /// Where to find the bus, and how long to wait for it.
    struct Options {
        /// A D-Bus address ("unix:path=/run/dbus/system_bus_socket"); empty for the system bus,
        /// which is DBUS_SYSTEM_BUS_ADDRESS where that is set.
        std::string busAddress;
        /// The longest a call waits for the bus and ModemManager together. Values of zero or
        /// less give absent at once.
        std::chrono::milliseconds timeout{250};
    };

    /// A source on the system bus with a 250 ms time-out.
    ModemManagerTelephony();
    /// A source with the given bus and time-out.
    explicit ModemManagerTelephony(Options options);

    std::optional<std::string> currentRadioAccessTechnology() const override;

private:
    Options options_;
};

} // namespace kestrel::platform
