#include "config/device_descriptors.hpp"

#include <kestrel/platform/radio_access_technology.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace kestrel::descriptors {

namespace {
// Case conversion of ASCII letters only, whatever the process locale; other bytes (UTF-8
// sequences included) are kept as they are.
std::string asciiUpper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string asciiLower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string roundedPoints(double points) {
    if (!std::isfinite(points)) return "0";
    // std::round takes halves away from zero; adding 0.0 turns -0 (from -0.4) into 0. Printing
    // the rounded double itself keeps sizes beyond any integer type exact.
    const double whole = std::round(points) + 0.0;
    std::array<char, 400> text{};
    const auto result =
        std::to_chars(text.data(), text.data() + text.size(), whole, std::chars_format::fixed, 0);
    return std::string(text.data(), result.ptr);
}
} // namespace

std::string operatingSystem() { return "iOS"; }

std::string deviceName(const platform::Device& device) { return device.name(); }

std::string deviceType(const platform::Device& device) {
    return asciiUpper("APPLE " + device.model());
}

std::string systemVersion(const platform::Device& device) { return device.systemVersion(); }

std::string systemVersionName(const platform::Device& device) { return device.systemName(); }

std::string systemLanguage(std::optional<std::string_view> languageCode,
                           std::optional<std::string_view> regionCode) {
    if (!languageCode || languageCode->empty()) return {};
    std::string text = asciiUpper(std::string(*languageCode));
    if (regionCode && !regionCode->empty()) text += "-" + asciiLower(std::string(*regionCode));
    return text;
}

std::string screenWidth(const platform::ScreenMetrics& screen) {
    return roundedPoints(screen.width);
}

std::string screenHeight(const platform::ScreenMetrics& screen) {
    return roundedPoints(screen.height);
}

std::string screenDiagonal(const platform::ScreenMetrics& screen) {
    // A NaN side has no length: std::max would drop it or keep it depending on the order.
    if (std::isnan(screen.width) || std::isnan(screen.height)) return "0";
    const double longer = std::max(screen.width, screen.height);
    if (longer == 480) return "3.5";
    if (longer == 568) return "4.0";
    if (longer == 667) return screen.scale == 3 ? "5.5" : "4.7";
    if (longer == 736) return "5.5";
    if (longer == 1024) return "9.7";
    if (longer == 1366) return "12.9";
    return "0";
}

std::string networkType(const std::function<void()>& startNotifier,
                        const std::function<NetworkLink()>& currentLink,
                        const platform::TelephonyNetworkInfo& telephony) {
    namespace rat = platform::radio_access_technology;
    // The technologies of a cellular data link, second to fourth generation.
    static constexpr std::array<std::string_view, 11> dataTechnologies{
        rat::GPRS,         rat::Edge,         rat::CDMA1x,       rat::WCDMA, rat::HSDPA, rat::HSUPA,
        rat::CDMAEVDORev0, rat::CDMAEVDORevA, rat::CDMAEVDORevB, rat::eHRPD, rat::LTE};
    try {
        startNotifier();
        const NetworkLink link = currentLink();
        if (link == NetworkLink::wifi) return "WiFi";
        if (link != NetworkLink::wwan) return {};
        const auto technology = telephony.currentRadioAccessTechnology();
        if (!technology) return {};
        const bool isData = std::find(dataTechnologies.begin(), dataTechnologies.end(),
                                      *technology) != dataTechnologies.end();
        return isData ? "Data" : "";
    } catch (...) {
        // The descriptor is a header value: whatever failed, the request goes out without it.
        return {};
    }
}

} // namespace kestrel::descriptors
