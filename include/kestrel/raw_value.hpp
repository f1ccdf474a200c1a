/// \file
/// Raw values of the library's enumerations: rawValue(e) gives the text or number of a case, and
/// fromRawValue<E>(raw) finds the case by an exact, case-sensitive match, or gives absent.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace kestrel {

/// Specialised by each enumeration with a constexpr table of its cases in declaration order:
/// \code
///   template <> struct EnumRawValues<ImageSize> {
///       static constexpr std::array values{
///           std::pair{ImageSize::cover, std::string_view("cover")}, ...};
///   };
/// \endcode
template <typename E>
struct EnumRawValues;

namespace detail {
template <typename E>
using RawEntry = std::remove_cvref_t<decltype(EnumRawValues<E>::values[0].second)>;

template <typename Raw>
struct RawTypes {
    using Value = Raw;
    using Param = Raw;
};
template <>
struct RawTypes<std::string_view> {
    using Value = std::string;
    using Param = std::string_view;
};
} // namespace detail

/// The raw value of a case: std::string for enumerations with text raw values, std::int64_t for
/// those with integer raw values.
template <typename E>
typename detail::RawTypes<detail::RawEntry<E>>::Value rawValue(E e) {
    for (const auto& [value, raw] : EnumRawValues<E>::values)
        if (value == e) return typename detail::RawTypes<detail::RawEntry<E>>::Value(raw);
    return {}; // unreachable for a declared case
}

/// The case whose raw value equals raw exactly; absent for any other value.
template <typename E>
std::optional<E> fromRawValue(typename detail::RawTypes<detail::RawEntry<E>>::Param raw) {
    for (const auto& [value, entry] : EnumRawValues<E>::values)
        if (entry == raw) return value;
    return std::nullopt;
}

} // namespace kestrel
