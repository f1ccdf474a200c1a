/// \file
/// NotificationCenter: named notifications posted by one part of a program and delivered to every
/// observer of that name, on the posting thread or on a queue of the observer's choosing.
#pragma once

#include <kestrel/platform/dispatch_queue.hpp>

#include <any>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::platform {

/// One posted notification.
struct Notification {
    std::string name; ///< the name it was posted with
    /// What the poster passed as the notification's object (empty when none); the reachability
    /// monitor passes a std::shared_ptr<Reachability>.
    std::any object;
};

/// Delivers named notifications to every observer of that name, on the posting thread or on a
/// queue of the observer's choosing.
class NotificationCenter {
public:
    /// An observer's function, called with each notification it observes.
    using Block = std::function<void(const Notification&)>;

    /// Names one added observer; pass it to removeObserver. A default-made token names none.
    class ObserverToken {
    public:
        ObserverToken() = default;
        /// True when the token names an observer (it may have been removed since).
        explicit operator bool() const { return entry_ != nullptr; }

    private:
        friend class NotificationCenter;
        struct Entry;
        explicit ObserverToken(std::shared_ptr<Entry> entry) : entry_(std::move(entry)) {}
        std::shared_ptr<Entry> entry_;
    };

    /// The process-wide centre: created on first use, never destroyed.
    static std::shared_ptr<NotificationCenter> defaultCenter();

    /// A centre of its own, independent of the default one.
    NotificationCenter() = default;
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    /// Calls block for every notification posted here with the given name (absent: every name).
    /// Without a queue the block runs synchronously on the posting thread; with one, it runs there
    /// asynchronously. An empty block is ignored and gives an empty token. Safe from any thread.
    ObserverToken addObserver(std::optional<std::string> name, std::shared_ptr<DispatchQueue> queue,
                              Block block);
    /// Removes an observer: once this returns its block is never called again. If the block is
    /// running on another thread, waits for it to finish (so the block must not wait for the
    /// thread that removes it); from inside the block itself it returns at once. Unknown or empty
    /// tokens are ignored.
    void removeObserver(const ObserverToken& token);
    /// Delivers a notification to the observers of its name, in the order they were added. An
    /// observer added or removed by a block during a post is not called for that post.
    void post(std::string_view name, std::any object = {});

private:
    std::mutex mutex_;
    std::vector<std::shared_ptr<ObserverToken::Entry>> observers_;
};

} // namespace kestrel::platform
