// The process-wide default services behind the argument-less constructors of the agent and the
// release window controller.
#include "brenvo/platform/Services.h"
#include "brenvo/platform/linux/CurlHttpClient.h"
#include "brenvo/platform/linux/FrameworkBundle.h"
#include "brenvo/platform/linux/InfoPlistBundle.h"
#include "brenvo/platform/linux/PlistUserDefaults.h"
#include "brenvo/platform/linux/TerminalWindow.h"
#include "brenvo/platform/linux/XdgOpenWorkspace.h"

#include <memory>
#include <mutex>
#include <vector>

namespace brenvo::platform {

namespace {

// Everything but the run loop: one per process, whichever thread asks first, and safe for the
// agents of every thread to share.
struct ProcessServices {
    SystemLog log;
    InfoPlistBundle mainBundle{log};
    FrameworkBundle frameworkBundle;
    PlistUserDefaults file{PlistUserDefaults::defaultPath(mainBundle), log};
    LockedUserDefaults defaults{file};
    SystemClock clock;
    CurlHttpClient http;
    // The system's version cannot be read here: the window then offers the store's web page.
    FixedSystemVersion systemVersion{std::nullopt};
    XdgOpenWorkspace workspace{&log};
    WindowRegistry windows;

    // The windows of Brenvo's optional libraries that the process has loaded go above the
    // terminal window: a toolkit window, then the desktop notification.
    ProcessServices() {
        TerminalWindowOptions terminal;
        terminal.onlyWhenInteractive = true;
        registerTerminalWindow(windows, terminal);
        registerDefaultWindows(windows, log);
    }
};

// Never destroyed: agents and windows that live until exit may still reach them from static
// destructors.
ProcessServices& processServices() {
    static ProcessServices* const services = new ProcessServices();
    return *services;
}

} // namespace

SystemLog& Services::sharedLog() {
    return processServices().log;
}

Services& Services::shared() {
    ProcessServices& process = processServices();
    RunLoop& loop = RunLoop::currentRunLoop();
    // One set per run loop, kept for the life of the process so that every reference handed out
    // stays valid; a loop is served by the set made for it, whichever thread asked before.
    static std::mutex mutex;
    static auto* const sets = new std::vector<std::unique_ptr<Services>>();
    std::lock_guard<std::mutex> lock(mutex);
    for (const auto& set : *sets)
        if (&set->runLoop == &loop)
            return *set;
    sets->push_back(std::unique_ptr<Services>(
        new Services{process.mainBundle, process.frameworkBundle, process.defaults, process.clock,
                     loop, NotificationCenter::defaultCenter(), process.log, process.http,
                     process.systemVersion, process.workspace, process.windows}));
    return *sets->back();
}

} // namespace brenvo::platform
