// Whether the machine has a network, as the system sees it, and word when that changes. An agent
// with a monitor lets a scheduled check that falls due offline wait for the network instead of
// spending it (brenvo/platform/glib/GioNetworkMonitor.h has GLib's monitor).
#pragma once

#include "brenvo/Export.h"

#include <functional>
#include <memory>

namespace brenvo::platform {

class RunLoop;

// A subscription to a monitor's changes; destroying it ends them, and nothing of it runs after.
class BRENVO_EXPORT NetworkWatch {
public:
    virtual ~NetworkWatch();
};

class BRENVO_EXPORT NetworkMonitor {
public:
    virtual ~NetworkMonitor();
    // False only when the system knows of no route to the Internet; true when it cannot tell.
    virtual bool networkAvailable() = 0;
    // Calls `changed` with the new availability on `loop`'s thread, from the loop, whenever the
    // system reports a change, until the returned watch is destroyed. `loop` must outlive it.
    virtual std::unique_ptr<NetworkWatch> watch(RunLoop& loop,
                                                std::function<void(bool available)> changed) = 0;
};

} // namespace brenvo::platform
