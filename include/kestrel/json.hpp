/// \file
/// JSON vocabulary of the public interface: dictionaries of any JSON value, and the error that
/// the decoding factories (T::decode) throw.
#pragma once

#include <nlohmann/json.hpp>

#include <stdexcept>
#include <string>

namespace kestrel {

/// A dictionary (a JsonValue holding an object) or any other JSON value.
using JsonValue = nlohmann::json;

/// Thrown by T::decode(const JsonValue&) where the decoder fails: a record given a value that is
/// not a JSON object, or a typed value (Height, QrCodeType) given a value of the wrong type.
class DecodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace kestrel
