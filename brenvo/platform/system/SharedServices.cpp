// The process-wide default services behind the argument-less constructors of the agent and the
// release window controller.
#include "brenvo/platform/Services.h"
#include "brenvo/platform/system/CurlHttpClient.h"
#include "brenvo/platform/system/FrameworkBundle.h"
#include "brenvo/platform/system/InfoPlistBundle.h"
#include "brenvo/platform/system/PlistUserDefaults.h"
#include "brenvo/platform/system/TerminalWindow.h"
#include "brenvo/platform/system/XdgOpenWorkspace.h"

namespace brenvo::platform {

namespace {

struct DefaultServices {
    SystemLog log;
    InfoPlistBundle mainBundle{log};
    FrameworkBundle frameworkBundle;
    PlistUserDefaults defaults{PlistUserDefaults::defaultPath(mainBundle), log};
    SystemClock clock;
    CurlHttpClient http;
    // The system's version cannot be read here: the window then offers the store's web page.
    FixedSystemVersion systemVersion{std::nullopt};
    XdgOpenWorkspace workspace;
    WindowRegistry windows;
    Services services{mainBundle,
                      frameworkBundle,
                      defaults,
                      clock,
                      RunLoop::currentRunLoop(),
                      NotificationCenter::defaultCenter(),
                      log,
                      http,
                      systemVersion,
                      workspace,
                      windows};

    DefaultServices() { registerTerminalWindow(windows); }
};

} // namespace

// Made on first use, on the thread whose run loop the services then use, and never destroyed:
// agents and windows that live until exit may still reach them from static destructors.
Services& Services::shared() {
    static DefaultServices* const defaults = new DefaultServices();
    return defaults->services;
}

} // namespace brenvo::platform
