/// \file
/// The library's localization look-up, the accessor of its own resource bundle, and two helpers on
/// byte buffers: appending text and printing a buffer that holds text.
#pragma once

#include <kestrel/platform/bundle.hpp>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

/// The text of a localization key in the user's language (platform::Locale::preferredLanguages),
/// from the string tables of the library's bundle. The key itself when the bundle is missing or
/// its table lacks the key. Any thread; never throws.
std::string tr(std::string_view key);

/// The library's own resource bundle, found by kestrelBundleIdentifier among the loaded bundles
/// (platform::Bundle::withIdentifier); null when none has that identifier. Any thread.
std::shared_ptr<const platform::Bundle> kestrelBundle();

/// Appends the UTF-8 bytes of `text` to `buffer`, as they are; an empty text appends nothing.
/// Touches only `buffer`.
void appendString(std::vector<std::uint8_t>& buffer, std::string_view text);

/// Prints "data string : " followed by the bytes as one line when they are valid UTF-8; prints
/// nothing otherwise. Any thread.
void printToString(std::span<const std::uint8_t> bytes);

} // namespace kestrel
