#include <kestrel/config/kestrel_manager.hpp>

#include <kestrel/platform/device.hpp>
#include <kestrel/platform/locale.hpp>
#include <kestrel/platform/screen.hpp>
#include <kestrel/platform/telephony_network_info.hpp>

#include "config/device_descriptors.hpp"

namespace kestrel {

namespace {
platform::ScreenMetrics screen() { return platform::Screen::main()->metrics(); }
} // namespace

std::string KestrelManager::operatingSystem() const { return descriptors::operatingSystem(); }

std::string KestrelManager::deviceName() const {
    return descriptors::deviceName(*platform::Device::current());
}

std::string KestrelManager::deviceType() const {
    return descriptors::deviceType(*platform::Device::current());
}

std::string KestrelManager::systemVersion() const {
    return descriptors::systemVersion(*platform::Device::current());
}

std::string KestrelManager::systemVersionName() const {
    return descriptors::systemVersionName(*platform::Device::current());
}

std::string KestrelManager::systemLanguage() const {
    const auto language = platform::Locale::languageCode();
    const auto region = platform::Locale::regionCode();
    return descriptors::systemLanguage(
        language ? std::optional<std::string_view>(*language) : std::nullopt,
        region ? std::optional<std::string_view>(*region) : std::nullopt);
}

std::string KestrelManager::screenWidth() const { return descriptors::screenWidth(screen()); }

std::string KestrelManager::screenHeight() const { return descriptors::screenHeight(screen()); }

std::string KestrelManager::screenDiagonal() const { return descriptors::screenDiagonal(screen()); }

std::string KestrelManager::networkType() const {
    if (!reachability_) return "";
    const auto& monitor = reachability_;
    return descriptors::networkType([&] { monitor->startNotifier(); },
                                    [&] {
                                        switch (monitor->currentReachabilityStatus()) {
                                        case Reachability::NetworkStatus::reachableViaWiFi:
                                            return descriptors::NetworkLink::wifi;
                                        case Reachability::NetworkStatus::reachableViaWWAN:
                                            return descriptors::NetworkLink::wwan;
                                        default:
                                            return descriptors::NetworkLink::notReachable;
                                        }
                                    },
                                    *platform::TelephonyNetworkInfo::current());
}

Reachability::NetworkStatus KestrelManager::reachabilityStatus() const {
    return reachability_ ? reachability_->currentReachabilityStatus()
                         : Reachability::NetworkStatus::notReachable;
}

} // namespace kestrel
