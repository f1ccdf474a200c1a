// The device descriptors that every recognition request carries in its headers, and that the
// settings holder offers to hosts: their exact texts, computed from values handed in, so that
// each of the holder's descriptor calls is one line over its platform sources. Nothing here is
// cached; every call reads its sources afresh.
#pragma once

#include <kestrel/platform/device.hpp>
#include <kestrel/platform/screen.hpp>
#include <kestrel/platform/telephony_network_info.hpp>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel::descriptors {

// The operating system the service is told about ("DeviceOS"). It stays "iOS" on every build: the
// service treats requests by this value, and the real system is sent as systemVersionName.
std::string operatingSystem();

// The device's user-visible name.
std::string deviceName(const platform::Device& device);
// "APPLE " followed by the device's model, all upper case ("APPLE IPAD").
std::string deviceType(const platform::Device& device);
// The operating system's version and name, as the device reports them.
std::string systemVersion(const platform::Device& device);
std::string systemVersionName(const platform::Device& device);

// Language code upper case, "-", region code lower case ("EN-us"). Without a region code the
// language alone ("EN"); without a language code empty text. An empty code counts as none.
std::string systemLanguage(std::optional<std::string_view> languageCode,
                           std::optional<std::string_view> regionCode);

// Width and height of the screen's bounds in points, to the nearest whole number (halves away
// from zero), as a decimal integer ("375"). Bounds that are not finite give "0".
std::string screenWidth(const platform::ScreenMetrics& screen);
std::string screenHeight(const platform::ScreenMetrics& screen);
// The nominal diagonal in inches of a known screen, found by its longer side in points (so the
// orientation does not matter) compared exactly, and by its scale: 480 "3.5", 568 "4.0", 667
// "5.5" at scale 3 and "4.7" otherwise, 736 "5.5", 1024 "9.7", 1366 "12.9"; any other size "0".
std::string screenDiagonal(const platform::ScreenMetrics& screen);

// What the reachability monitor says of the network, for networkType.
enum class NetworkLink { notReachable, wifi, wwan };

// The kind of link in use: "WiFi", "Data" or empty text. In this order: calls startNotifier
// (every time: the caller starts the notification once, and later calls do nothing); reads the
// link; only on a cellular link asks telephony for the radio technology, which gives "Data" for
// every 2G, 3G and LTE identifier of radio_access_technology and empty text for anything else.
// Never throws: a throwing startNotifier (a notifier that cannot start), link or telephony source
// gives empty text. Runs on the caller's thread; on a cellular link it waits for telephony (the
// built-in source is bounded by its time-out).
std::string networkType(const std::function<void()>& startNotifier,
                        const std::function<NetworkLink()>& currentLink,
                        const platform::TelephonyNetworkInfo& telephony);

} // namespace kestrel::descriptors
