// In-process notifications. An observer runs on the thread that registered it: a post on that
// thread calls it during the post; a post from any other thread hands the notification to the
// observer's run loop, which calls it on its next pass. So an agent on a worker thread hears a
// window close on the main thread on its own thread, never on the poster's.
//
//   center.addObserver(this, [this](const Notification&) { rearm(); }, "Closed", nullptr);
//   center.postNotificationName("Closed", nullptr);   // from any thread
//   center.removeObserver(this);                        // before `this` goes
#pragma once

#include "brenvo/Export.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace brenvo::platform {

class RunLoop;

struct Notification {
    std::string name;
    const void* object = nullptr;
};

// Every call is safe from any thread.
class BRENVO_EXPORT NotificationCenter {
public:
    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // The process-wide centre.
    static NotificationCenter& defaultCenter();

    // Calls `selector` for every notification named `name` (any name when empty) whose object is
    // `object` (any object when nullptr), on the calling thread: during posts made on it, and
    // through its current run loop (RunLoop::currentRunLoop()) for posts from other threads.
    // `observer` identifies the registration for removeObserver().
    void addObserver(const void* observer, std::function<void(const Notification&)> selector,
                     std::string_view name, const void* object);
    // The same with `loop`, the run loop that the calling thread runs, for posts from other
    // threads.
    void addObserver(const void* observer, std::function<void(const Notification&)> selector,
                     std::string_view name, const void* object, RunLoop& loop);
    // Removes every registration of `observer`. Once it returns on the observer's thread, the
    // observer is never called again: not by a post in progress, nor by a notification already
    // handed to its run loop.
    void removeObserver(const void* observer);
    // Delivers the notification to the matching observers registered when the post began, in
    // registration order: those of the posting thread at once, the others on their run loops.
    void postNotificationName(std::string_view name, const void* object);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace brenvo::platform
