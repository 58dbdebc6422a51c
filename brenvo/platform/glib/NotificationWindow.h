// The release-info window as a desktop notification, sent over the session bus to the desktop's
// notification service (org.freedesktop.Notifications): the title text is its summary, the
// description and the release notes its body, and the two buttons its actions. An action answers
// as the button of the same name; a notification that the user dismisses, that expires or that
// the service closes counts as a close of the window.
//
// The window speaks D-Bus through a GLib context of its own that the run loop serves (see
// GLibContextPump), so it works in a host that runs Brenvo's run loop as in a GLib host. There is
// no window (nullptr) when no session bus is known (DBUS_SESSION_BUS_ADDRESS, else
// $XDG_RUNTIME_DIR/bus; a bus is never launched for it), when no notification service answers
// on it, or when the service cannot show actions.
//
// Brenvo::glib offers this window to the default services when it is loaded, ranked below the
// toolkit windows and above the terminal window; a host can also register it itself:
//
//   brenvo::platform::registerNotificationWindow(services.windows, services.log);
#pragma once

#include "brenvo/Export.h"
#include "brenvo/platform/Log.h"
#include "brenvo/platform/Window.h"

#include <memory>

namespace brenvo::platform {

// The notification for `owner`, or nullptr (see above). Failures after it was sent (the service
// refusing it, the bus going away) are reported on `log` and close the window.
BRENVO_EXPORT std::unique_ptr<Window> makeNotificationWindow(ReleaseWindowOwner& owner,
                                                             RunLoop& loop, Log& log);

// Registers the notification window under kReleaseInfoWindow; `log` must outlive `registry`.
BRENVO_EXPORT void registerNotificationWindow(WindowRegistry& registry, Log& log);

} // namespace brenvo::platform
