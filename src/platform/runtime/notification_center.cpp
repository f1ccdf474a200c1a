#include <kestrel/platform/notification_center.hpp>

#include <algorithm>
#include <utility>

namespace kestrel::platform {

// One observer. callMutex is held while its block runs, so that removal can wait for a call under
// way; it is recursive so that a block may post again or remove itself on its own thread.
struct NotificationCenter::ObserverToken::Entry {
    std::optional<std::string> name;
    std::shared_ptr<DispatchQueue> queue;
    Block block;
    std::recursive_mutex callMutex;
    bool removed = false; // under callMutex

    void call(const Notification& notification) {
        std::lock_guard lock(callMutex);
        if (!removed) block(notification);
    }
};

std::shared_ptr<NotificationCenter> NotificationCenter::defaultCenter() {
    static const auto* const center =
        new std::shared_ptr<NotificationCenter>(std::make_shared<NotificationCenter>());
    return *center;
}

NotificationCenter::~NotificationCenter() {
    // Blocks already queued elsewhere hold their entry; they must not run once the centre is gone.
    for (const auto& entry : observers_) {
        std::lock_guard lock(entry->callMutex);
        entry->removed = true;
    }
}

NotificationCenter::ObserverToken
NotificationCenter::addObserver(std::optional<std::string> name,
                                std::shared_ptr<DispatchQueue> queue, Block block) {
    if (!block) return {};
    auto entry = std::make_shared<ObserverToken::Entry>();
    entry->name = std::move(name);
    entry->queue = std::move(queue);
    entry->block = std::move(block);
    std::lock_guard lock(mutex_);
    observers_.push_back(entry);
    return ObserverToken(std::move(entry));
}

void NotificationCenter::removeObserver(const ObserverToken& token) {
    if (!token.entry_) return;
    {
        std::lock_guard lock(mutex_);
        std::erase(observers_, token.entry_);
    }
    std::lock_guard lock(token.entry_->callMutex);
    token.entry_->removed = true;
}

void NotificationCenter::post(std::string_view name, std::any object) {
    std::vector<std::shared_ptr<ObserverToken::Entry>> matching;
    {
        std::lock_guard lock(mutex_);
        for (const auto& entry : observers_)
            if (!entry->name || *entry->name == name) matching.push_back(entry);
    }
    if (matching.empty()) return;
    auto notification =
        std::make_shared<const Notification>(Notification{std::string(name), std::move(object)});
    for (auto& entry : matching) {
        if (entry->queue)
            entry->queue->async([entry, notification] { entry->call(*notification); });
        else
            entry->call(*notification);
    }
}

} // namespace kestrel::platform
