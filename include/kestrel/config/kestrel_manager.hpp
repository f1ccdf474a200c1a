/// \file
/// The library's per-installation settings (API key, installation identifier, black-and-white
/// flag, JPEG quality, migration flag), kept in the platform settings store, and the device
/// descriptors that recognition requests carry.
#pragma once

#include <kestrel/cg_float.hpp>
#include <kestrel/config/reachability.hpp>

#include <memory>
#include <optional>
#include <string>

namespace kestrel {

/// The library's per-installation settings, kept in the platform settings store, and the device
/// descriptors that recognition requests carry.
class KestrelManager {
public:
    /// The process-wide manager, created on first use from any thread and kept until the process
    /// exits. Its creation runs the first-run initialisation below.
    static KestrelManager& shared();

    /// Creates the reachability monitor for the zero address (not started), prints
    /// "Initializing KestrelManager", and on the first run of an installation (no installation
    /// identifier stored as text) stores, in this order: black-and-white true, a new random
    /// identifier, and the configured send quality as the JPEG quality. Without a monitor (the
    /// system's routing information cannot be read) the manager still works: the settings behave
    /// as usual and the network type reads as empty. Copies share the monitor.
    KestrelManager();
    /// The same with a monitor of the caller's (null: none), for hosts and tests that supply
    /// their own flag source.
    explicit KestrelManager(std::shared_ptr<Reachability> reachability);

    // Each accessor reads or writes the standard settings store afresh; nothing is kept in memory.
    // Writes that the store cannot keep are dropped (with a diagnostic line), never thrown.

    /// Stores the API key that requests carry, unchecked, in the standard settings store.
    void setApiKey(const std::string& apiKey);
    /// The stored API key; absent when none was set or the stored value is not text.
    std::optional<std::string> getApiKey() const;
    /// Stores the installation identifier.
    void setApplicationInstanceId(const std::string& applicationId);
    /// The stored installation identifier; absent when none is stored as text.
    std::optional<std::string> getApplicationInstanceId() const;
    /// Stores whether photos are sent in grey.
    void setUseBlackAndWhite(bool useBlackAndWhite);
    /// The stored flag. When the key is absent or not a Boolean (a host removed it), gives true,
    /// the value a first run stores.
    bool useBlackAndWhite() const;
    /// Stores quality as a 64-bit float; no range check.
    void setJpegQuality(CGFloat quality);
    /// The stored quality read at single precision and widened (0.7 reads as 0.699999988079071);
    /// 0 when absent or not a number.
    CGFloat getJpegQuality() const;
    /// Stores the migration flag. The library itself never reads it.
    void setHasBeenMigrated(bool hasBeenMigrated);
    /// The stored migration flag; false when absent.
    bool hasBeenMigrated() const;

    // Device descriptors, computed afresh at every call on the caller's thread from the platform
    // sources (platform::Device, platform::Screen::main(), platform::Locale,
    // platform::TelephonyNetworkInfo). None throws.
    std::string operatingSystem() const;   ///< "iOS", the value the service expects
    std::string deviceName() const;        ///< the device's user-visible name
    std::string deviceType() const;        ///< "APPLE " + model, upper-cased
    std::string systemVersion() const;     ///< the operating system's version (Device)
    std::string systemVersionName() const; ///< the operating system's name (Device)
    std::string systemLanguage() const;    ///< "EN-us"; the language alone without a region
    std::string screenWidth() const;       ///< points, rounded half away from zero
    std::string screenHeight() const;      ///< points, rounded half away from zero
    std::string screenDiagonal() const;    ///< nominal inches from the size table, else "0"
    /// "WiFi", "Data" or empty text. Starts the monitor's change notifier on first use (later
    /// calls find it running); empty when there is no monitor or it cannot start.
    std::string networkType() const;
    /// The monitor's current status; notReachable without a monitor.
    Reachability::NetworkStatus reachabilityStatus() const;

    /// The monitor for the zero address, or null when none could be created.
    const std::shared_ptr<Reachability>& reachability() const { return reachability_; }

private:
    std::shared_ptr<Reachability> reachability_;
};

/// The facade through which a host gives the library its API key.
class KestrelLight {
public:
    /// Stores apiKey (unchecked; an empty text is stored as empty text) through
    /// KestrelManager::shared(), creating the manager first if needed.
    static void setApiKey(const std::string& apiKey);
};

} // namespace kestrel
