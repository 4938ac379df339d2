// Notifications by name: observers register a callback for a name (and optionally one
// sender); posting calls every matching observer in the order they registered.
#pragma once

#include "platform/Object.h"

#include <any>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

struct Notification {
    std::string name;
    Object* object = nullptr; // the sender
    std::any userInfo;        // whatever the poster attaches
};

class NotificationCenter {
public:
    using Handler = std::function<void(const Notification&)>;

    static NotificationCenter& defaultCenter();

    // observer identifies the registration for removal; it is not retained. A null sender
    // matches every sender.
    void addObserver(const void* observer, const std::string& name, Handler handler,
                     const Object* sender = nullptr);
    void removeObserver(const void* observer);
    void removeObserver(const void* observer, const std::string& name);
    void postNotification(const Notification& notification);
    void postNotificationName(const std::string& name, Object* sender, std::any userInfo = {});
    std::size_t observerCount() const { return entries_.size(); }

private:
    struct Entry {
        std::uint64_t id;
        const void* observer;
        std::string name;
        const Object* sender;
        Handler handler;
    };
    std::vector<Entry> entries_;
    std::uint64_t nextId_ = 1;
};

} // namespace platform
