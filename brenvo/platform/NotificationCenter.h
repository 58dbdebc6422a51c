// In-process notifications, delivered synchronously during the post.
#pragma once

#include "brenvo/Export.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace brenvo::platform {

struct Notification {
    std::string name;
    const void* object = nullptr;
};

class BRENVO_EXPORT NotificationCenter {
public:
    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // The process-wide centre.
    static NotificationCenter& defaultCenter();

    // Calls `selector` for every notification named `name` (any name when empty) whose object is
    // `object` (any object when nullptr). `observer` identifies the registration for
    // removeObserver().
    void addObserver(const void* observer, std::function<void(const Notification&)> selector,
                     std::string_view name, const void* object);
    // Removes every registration of `observer`. Safe during a post: a removed observer is not
    // called afterwards, even by the post in progress.
    void removeObserver(const void* observer);
    // Delivers the notification to the matching observers registered when the post began, in
    // registration order.
    void postNotificationName(std::string_view name, const void* object);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace brenvo::platform
