#include "platform/NotificationCenter.h"

#include <algorithm>

namespace platform {

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter center;
    return center;
}

void NotificationCenter::addObserver(const void* observer, const std::string& name, Handler handler,
                                     const Object* sender) {
    entries_.push_back({nextId_++, observer, name, sender, std::move(handler)});
}

void NotificationCenter::removeObserver(const void* observer) {
    std::erase_if(entries_, [&](const Entry& e) { return e.observer == observer; });
}

void NotificationCenter::removeObserver(const void* observer, const std::string& name) {
    std::erase_if(entries_, [&](const Entry& e) { return e.observer == observer && e.name == name; });
}

void NotificationCenter::postNotification(const Notification& notification) {
    // Handlers may add or remove observers: walk a snapshot of the matching registrations and
    // skip any that were removed before their turn.
    std::vector<std::uint64_t> ids;
    for (const Entry& e : entries_)
        if (e.name == notification.name && (!e.sender || e.sender == notification.object))
            ids.push_back(e.id);
    for (std::uint64_t id : ids) {
        auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.id == id; });
        if (it == entries_.end()) continue;
        Handler handler = it->handler; // the entry may go away while it runs
        handler(notification);
    }
}

void NotificationCenter::postNotificationName(const std::string& name, Object* sender, std::any userInfo) {
    postNotification({name, sender, std::move(userInfo)});
}

} // namespace platform
