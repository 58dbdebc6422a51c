#include "brenvo/platform/NotificationCenter.h"

#include <vector>

namespace brenvo::platform {

namespace {

struct Registration {
    const void* observer;
    std::function<void(const Notification&)> selector;
    std::string name;
    const void* object;
    bool removed = false;
};

} // namespace

struct NotificationCenter::Impl {
    // Shared so that a post in progress keeps the registrations it started with alive, and sees
    // their removal through `removed`.
    std::vector<std::shared_ptr<Registration>> registrations;
};

NotificationCenter::NotificationCenter() : impl_(std::make_unique<Impl>()) {}

NotificationCenter::~NotificationCenter() {
    for (auto& registration : impl_->registrations) {
        registration->removed = true;
    }
}

NotificationCenter& NotificationCenter::defaultCenter() {
    // Never destroyed: observers may still unregister from static destructors.
    static NotificationCenter* center = new NotificationCenter();
    return *center;
}

void NotificationCenter::addObserver(const void* observer,
                                     std::function<void(const Notification&)> selector,
                                     std::string_view name, const void* object) {
    if (!selector) {
        return;
    }
    impl_->registrations.push_back(std::make_shared<Registration>(
        Registration{observer, std::move(selector), std::string(name), object}));
}

void NotificationCenter::removeObserver(const void* observer) {
    auto& list = impl_->registrations;
    for (auto it = list.begin(); it != list.end();) {
        if ((*it)->observer == observer) {
            (*it)->removed = true;
            it = list.erase(it);
        } else {
            ++it;
        }
    }
}

void NotificationCenter::postNotificationName(std::string_view name, const void* object) {
    const Notification notification{std::string(name), object};
    const std::vector<std::shared_ptr<Registration>> snapshot = impl_->registrations;
    for (const auto& registration : snapshot) {
        if (registration->removed) {
            continue;
        }
        if (!registration->name.empty() && registration->name != name) {
            continue;
        }
        if (registration->object != nullptr && registration->object != object) {
            continue;
        }
        registration->selector(notification);
    }
}

} // namespace brenvo::platform
