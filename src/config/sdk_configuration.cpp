#include <kestrel/config/bundle_identifier.hpp>
#include <kestrel/config/sdk_configuration.hpp>
#include <kestrel/platform/bundle.hpp>

#include "support/diagnostics.hpp"
#include "json/lenient.hpp"

namespace kestrel {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The longest prefix of `text` that is a decimal number: optional sign, digits with an optional
// fraction (at least one digit in all), and an exponent only when it has digits.
std::string_view decimalPrefix(std::string_view text) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < text.size() && isDigit(text[i])) ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && isDigit(text[i])) ++i, ++digits;
    }
    if (digits == 0) return {};
    std::size_t end = i;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        if (i < text.size() && isDigit(text[i])) {
            while (i < text.size() && isDigit(text[i])) ++i;
            end = i;
        }
    }
    return text.substr(0, end);
}

} // namespace

SdkConfiguration& SdkConfiguration::shared() {
    static auto* instance = new SdkConfiguration();
    return *instance;
}

SdkConfiguration::SdkConfiguration() : configDictionary_(JsonValue::object()) {
    const auto bundle = platform::Bundle::withIdentifier(kestrelBundleIdentifier);
    if (bundle && bundle->infoDictionary()) configDictionary_ = *bundle->infoDictionary();
}

std::string SdkConfiguration::configValueForKey(std::string_view rawKey) const {
    return json::readText(configDictionary_, rawKey).value_or(std::string());
}

std::string SdkConfiguration::valueForKey(ConfigurationKey key) const {
    return configValueForKey(rawValue(key));
}

std::string SdkConfiguration::urlValueForKey(ConfigurationKey key) const {
    auto text = valueForKey(key);
    std::erase(text, '\\');
    return text;
}

CGFloat SdkConfiguration::floatValueForKey(ConfigurationKey key) const {
    const auto text = valueForKey(key);
    std::string_view rest = text;
    while (!rest.empty() && isSpace(rest.front())) rest.remove_prefix(1);
    // Out of range reads as 0.0 rather than an infinity, which no caller could use as a size or
    // a quality.
    const auto value = json::parseFloatText(decimalPrefix(rest));
    return static_cast<CGFloat>(value.value_or(0.0f));
}

std::int64_t SdkConfiguration::intValueForKey(ConfigurationKey key) const {
    return json::parseInt64Text(valueForKey(key)).value_or(0);
}

void SdkConfiguration::printAllConfigurations() const {
    std::string listing = "/*** Sdk Configuration ***/";
    for (const auto key : allConfigurationKeys) {
        listing += '\n';
        listing += rawValue(key);
        listing += " :: ";
        listing += valueForKey(key);
    }
    support::printLine(listing);
}

} // namespace kestrel
