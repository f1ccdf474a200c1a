/// \file
/// SdkConfiguration: the library's configuration dictionary, read once per process from the
/// information dictionary of its resource bundle, with typed look-ups by ConfigurationKey.
#pragma once

#include <kestrel/cg_float.hpp>
#include <kestrel/config/configuration_key.hpp>
#include <kestrel/json.hpp>

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel {

/// The library's configuration dictionary, with typed look-ups by ConfigurationKey.
/// Every look-up answers: a missing entry, or one that is not a text, reads as "", 0.0 or 0.
/// Nothing here throws, prints an error or blocks; an instance is read-only after construction and
/// may be used from any thread.
class SdkConfiguration {
public:
    /// The process-wide instance, made on first use (from any thread) and kept until the process
    /// ends. It holds the dictionary as it was at that moment.
    static SdkConfiguration& shared();

    /// Reads the dictionary anew from the library's bundle (platform::Bundle::withIdentifier of
    /// kestrelBundleIdentifier); without the bundle, or without its information dictionary, the
    /// dictionary is empty. The library itself only uses shared().
    SdkConfiguration();
    virtual ~SdkConfiguration() = default;
    SdkConfiguration(const SdkConfiguration&) = delete;
    SdkConfiguration& operator=(const SdkConfiguration&) = delete;

    /// The configured text, unchanged; "" when there is none.
    virtual std::string valueForKey(ConfigurationKey key) const;
    /// The configured text with every backslash removed (an address written "http:\/\/host"
    /// reads "http://host"); nothing else changed, nothing checked. "" when there is none.
    virtual std::string urlValueForKey(ConfigurationKey key) const;
    /// The configured text read as a single-precision number and widened: leading white space is
    /// skipped, the longest decimal-number prefix is read ("0.85abc" reads 0.85f), the rest is
    /// ignored; "0.8" reads 0.800000011920929. 0.0 when there is no such prefix or no entry, and
    /// when the number is beyond the single-precision range. Independent of the process locale.
    virtual CGFloat floatValueForKey(ConfigurationKey key) const;
    /// The configured text read as a whole as a signed 64-bit decimal integer ("+12", "-3"); 0 for
    /// anything else (" 12", "12.5", "", a value beyond the 64-bit range) or no entry.
    virtual std::int64_t intValueForKey(ConfigurationKey key) const;
    /// Prints "/*** Sdk Configuration ***/" and then one line "<raw key> :: <valueForKey>" per key
    /// in declaration order: 25 lines on standard output, written in one piece.
    virtual void printAllConfigurations() const;

private:
    std::string configValueForKey(std::string_view rawKey) const;

    JsonValue configDictionary_;
};

} // namespace kestrel
