/// \file
/// The identifier under which the library finds its own resource bundle (the bundle's
/// "CFBundleIdentifier"). A host that ships its own copy of the bundle keeps this identifier.
#pragma once

#include <string_view>

namespace kestrel {

/// The "CFBundleIdentifier" of the library's own resource bundle.
inline constexpr std::string_view kestrelBundleIdentifier = "org.kestrel.KestrelSDKLight";

} // namespace kestrel
