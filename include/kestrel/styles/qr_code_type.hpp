/// \file
/// The kind of a scanned code, which selects its default style. It has one kind, url (raw value 0).
#pragma once

#include <kestrel/json.hpp>
#include <kestrel/raw_value.hpp>

#include <array>
#include <cstdint>
#include <utility>

namespace kestrel {

/// The kind of a scanned code, which selects its default style; url has the raw value 0.
enum class QrCodeType { url };

/// The raw value of each case of QrCodeType, for rawValue and fromRawValue.
template <>
struct EnumRawValues<QrCodeType> {
    /// Every case with its raw value, in declaration order.
    static constexpr std::array values{std::pair{QrCodeType::url, std::int64_t{0}}};
};

/// Decodes a QrCodeType from a single JSON integer: 0 gives url. Any other integer, and any value
/// that is not an integer (a string, a fraction, a boolean, null), throws DecodingError.
QrCodeType decodeQrCodeType(const JsonValue& value);

} // namespace kestrel
