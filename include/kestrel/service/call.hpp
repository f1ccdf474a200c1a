/// \file
/// Call: the handle a service call returns, to cancel it. Copies share the call; ignoring or
/// destroying the handle does not cancel anything.
#pragma once

#include <memory>

namespace kestrel {

namespace service {
class CallState;
}

/// The handle a service call returns, to cancel it. Copies share the call; ignoring or destroying
/// the handle does not cancel anything.
class Call {
public:
    /// A handle to no call: cancel() does nothing.
    Call() = default;
    /// A handle to a call in flight; the library makes these, a host has no state to pass.
    explicit Call(std::shared_ptr<service::CallState> state) : state_(std::move(state)) {}

    /// Stops the call if its completion has not started yet: the transfer is abandoned (the
    /// connection is closed, nothing more is sent) and the completion is called once with
    /// FailureCause::cancelled (a classic completion: with KestrelError::notEnrichedImage; a
    /// classic click completion: not at all). Returns true when it did that, false when the call
    /// had already completed or been cancelled, or was never sent.
    ///
    /// On the server's delegate queue (inside another completion, say) the cancelled completion
    /// runs inside cancel(), so no completion of this call runs after cancel() returns. From any
    /// other thread the cancelled completion is queued on the delegate queue, and it is then the
    /// only completion the call gets; when cancel() returns false a completion may be running
    /// at that moment.
    bool cancel() const;
    /// True once the call has completed or been cancelled (or was never sent).
    bool isFinished() const;

private:
    std::shared_ptr<service::CallState> state_;
};

} // namespace kestrel
