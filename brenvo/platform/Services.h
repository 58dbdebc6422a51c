// The services the agent and its window take from the system, gathered in one place.
//
//   brenvo::Brenvo agent;                              // the process-wide default services
//   brenvo::Brenvo agent(myServices);                  // or services of the host's choosing
#pragma once

#include "brenvo/Export.h"
#include "brenvo/platform/Bundle.h"
#include "brenvo/platform/Clock.h"
#include "brenvo/platform/HttpClient.h"
#include "brenvo/platform/Log.h"
#include "brenvo/platform/NetworkMonitor.h"
#include "brenvo/platform/NotificationCenter.h"
#include "brenvo/platform/RunLoop.h"
#include "brenvo/platform/SystemVersion.h"
#include "brenvo/platform/UserDefaults.h"
#include "brenvo/platform/Window.h"
#include "brenvo/platform/Workspace.h"

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace brenvo::platform {

// Tells whoever asked when a set of services ends. A release window that may outlive its agent
// registers here, so destroying the services closes it first (as a close without an answer)
// instead of leaving it with services that are gone.
class BRENVO_EXPORT ServicesLifetime {
public:
    ServicesLifetime();
    // Calls every registered function, newest first.
    ~ServicesLifetime();
    ServicesLifetime(const ServicesLifetime&) = delete;
    ServicesLifetime& operator=(const ServicesLifetime&) = delete;

    // Calls `ended` when the services end, unless cancelled first. Returns a handle for cancel().
    uint64_t whenEnded(std::function<void()> ended);
    void cancel(uint64_t handle);

private:
    std::vector<std::pair<uint64_t, std::function<void()>>> ended_;
    uint64_t next_ = 1;
};

// The services an agent and its window use. They belong to the thread that runs `runLoop`.
// Whoever builds one keeps the referenced objects alive at least as long as the Services
// object itself: declare it after them. Destroying it closes the release windows that use it.
struct BRENVO_EXPORT Services {
    Bundle& mainBundle;      // the host application
    Bundle& frameworkBundle; // Brenvo itself
    UserDefaults& standardUserDefaults;
    Clock& clock;
    RunLoop& runLoop;
    NotificationCenter& defaultCenter;
    Log& log;
    HttpClient& http;
    SystemVersion& systemVersion;
    Workspace& workspace;
    WindowRegistry& windows;
    ServicesLifetime lifetime{};
    // The system's word on the network, when the host's loop can hear it (attachGtkHost and
    // attachQtHost set GLib's); without one, a scheduled check that the network failed is tried
    // again a few times instead.
    NetworkMonitor* networkMonitor = nullptr;

    // The process-wide default services with the calling thread's current run loop: the
    // Info.plist next to the executable, defaults under the XDG config folder, the system clock,
    // libcurl, the terminal window when standard input and output are terminals, xdg-open. One
    // set per thread and run loop, made on first use and never destroyed. The parts without a
    // loop are shared by every thread and safe to share: the Info.plist, the defaults (one call
    // at a time), the log, the notification centre, the HTTP client, the workspace and the
    // window registry. Which thread calls first binds nothing; a thread's own loop ends with the
    // thread, so its agents and windows end before it does.
    static Services& shared();
    // The log of the default services, without touching any run loop; a host may give it a sink.
    // Safe from any thread.
    static SystemLog& sharedLog();
};

} // namespace brenvo::platform
