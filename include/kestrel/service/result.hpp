/// \file
/// Result: what a service call gives its completion — either the value or a Failure.
#pragma once

#include <kestrel/service/failure.hpp>

#include <optional>
#include <stdexcept>
#include <utility>

namespace kestrel {

/// What a service call gives its completion: either the value or a Failure.
template <typename T>
class Result {
public:
    /// A result holding the call's value.
    Result(T value) : value_(std::move(value)) {}
    /// A result holding why the call failed.
    Result(Failure failure) : failure_(std::move(failure)) {}

    /// True when the call gave its value.
    bool ok() const { return value_.has_value(); }
    /// The same as ok().
    explicit operator bool() const { return ok(); }

    ///@{
    /// The value; throws std::logic_error on a failure.
    T& value() & { return checkedValue(); }
    const T& value() const& { return const_cast<Result*>(this)->checkedValue(); }
    T&& value() && { return std::move(checkedValue()); }
    ///@}
    /// The failure; throws std::logic_error when the call succeeded.
    const Failure& failure() const {
        if (ok()) throw std::logic_error("Result holds a value, not a failure");
        return failure_;
    }

private:
    T& checkedValue() {
        if (!ok()) throw std::logic_error("Result holds a failure: " + failure_.description());
        return *value_;
    }

    std::optional<T> value_;
    Failure failure_; ///< meaningful only without a value
};

} // namespace kestrel
