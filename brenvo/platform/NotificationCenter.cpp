#include "brenvo/platform/NotificationCenter.h"

#include "brenvo/platform/RunLoop.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace brenvo::platform {

namespace {

struct Registration {
    const void* observer;
    std::function<void(const Notification&)> selector;
    std::string name;
    const void* object;
    // Where the observer runs.
    std::thread::id thread;
    std::shared_ptr<RunLoopInbox> inbox;
    std::atomic<bool> removed{false};

    bool matches(std::string_view postedName, const void* postedObject) const {
        return (name.empty() || name == postedName) &&
               (object == nullptr || object == postedObject);
    }
};

} // namespace

struct NotificationCenter::Impl {
    std::mutex mutex;
    // Shared so that a post in progress, and a notification on its way to another thread, keep
    // the registrations they started with alive and see their removal through `removed`.
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
    addObserver(observer, std::move(selector), name, object, RunLoop::currentRunLoop());
}

void NotificationCenter::addObserver(const void* observer,
                                     std::function<void(const Notification&)> selector,
                                     std::string_view name, const void* object, RunLoop& loop) {
    if (!selector) {
        return;
    }
    auto registration = std::make_shared<Registration>();
    registration->observer = observer;
    registration->selector = std::move(selector);
    registration->name = std::string(name);
    registration->object = object;
    registration->thread = std::this_thread::get_id();
    registration->inbox = loop.inbox();
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->registrations.push_back(std::move(registration));
}

void NotificationCenter::removeObserver(const void* observer) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    std::erase_if(impl_->registrations, [observer](const std::shared_ptr<Registration>& entry) {
        if (entry->observer != observer) {
            return false;
        }
        entry->removed = true;
        return true;
    });
}

void NotificationCenter::postNotificationName(std::string_view name, const void* object) {
    const Notification notification{std::string(name), object};
    std::vector<std::shared_ptr<Registration>> snapshot;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        snapshot = impl_->registrations;
    }
    const std::thread::id poster = std::this_thread::get_id();
    for (const auto& registration : snapshot) {
        if (registration->removed || !registration->matches(name, object)) {
            continue;
        }
        if (registration->thread == poster) {
            registration->selector(notification);
            continue;
        }
        // The observer's own thread calls it, unless it was removed meanwhile; once its loop is
        // gone there is nobody left to tell.
        registration->inbox->perform([registration, notification] {
            if (!registration->removed) {
                registration->selector(notification);
            }
        });
    }
}

} // namespace brenvo::platform
