/// \file
/// KestrelError: the two errors the recognition calls hand to the host, with their raw values
/// (localization keys) and their text in the user's language.
#pragma once

#include <kestrel/raw_value.hpp>

#include <array>
#include <string>
#include <string_view>
#include <utility>

namespace kestrel {

/// The error of the classic completions, also in Failure::error: a plain value, never thrown.
enum class KestrelError {
    notEnrichedImage,  ///< the service call failed: transport, missing body, status, decoding
    parametersMissing, ///< the request could not be built: no image or no language code
};

/// rawValue(error) and fromRawValue<KestrelError>(text) (exact, case-sensitive match).
template <>
struct EnumRawValues<KestrelError> {
    /// Every case with its raw value, in declaration order.
    static constexpr std::array values{
        std::pair{KestrelError::notEnrichedImage,
                  std::string_view("actions.list.error.not_enriched_image")},
        std::pair{KestrelError::parametersMissing, std::string_view("request.error.parameters")},
    };
};

/// The error's text in the user's language: tr(rawValue(error)); at worst the raw value itself.
/// Any thread.
std::string localizedString(KestrelError error);

} // namespace kestrel
