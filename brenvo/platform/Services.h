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
#include "brenvo/platform/NotificationCenter.h"
#include "brenvo/platform/RunLoop.h"
#include "brenvo/platform/SystemVersion.h"
#include "brenvo/platform/UserDefaults.h"
#include "brenvo/platform/Window.h"
#include "brenvo/platform/Workspace.h"

namespace brenvo::platform {

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

    // The process-wide default: the Info.plist next to the executable, defaults under the XDG
    // config folder, the system clock and the current thread's run loop, libcurl, the terminal
    // window, xdg-open. Created on first use.
    static Services& shared();
};

} // namespace brenvo::platform
