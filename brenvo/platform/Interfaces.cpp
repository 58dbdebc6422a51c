// Out-of-line destructors anchor the vtables of the service interfaces in this library.
#include "brenvo/platform/Bundle.h"
#include "brenvo/platform/Clock.h"
#include "brenvo/platform/HttpClient.h"
#include "brenvo/platform/Log.h"
#include "brenvo/platform/NetworkMonitor.h"
#include "brenvo/platform/SystemVersion.h"
#include "brenvo/platform/UserDefaults.h"
#include "brenvo/platform/Window.h"
#include "brenvo/platform/Workspace.h"

namespace brenvo::platform {

Bundle::~Bundle() = default;
UserDefaults::~UserDefaults() = default;
Clock::~Clock() = default;
Log::~Log() = default;
SystemVersion::~SystemVersion() = default;
Workspace::~Workspace() = default;
HttpClient::~HttpClient() = default;
NetworkMonitor::~NetworkMonitor() = default;
NetworkWatch::~NetworkWatch() = default;
ReleaseWindowOwner::~ReleaseWindowOwner() = default;
Window::~Window() = default;

} // namespace brenvo::platform
