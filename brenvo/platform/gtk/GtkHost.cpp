#include "brenvo/platform/gtk/GtkHost.h"

#include "brenvo/platform/detail/HostLoops.h"
#include "brenvo/platform/glib/GLibRunLoop.h"
#include "brenvo/platform/glib/GioNetworkMonitor.h"
#include "brenvo/platform/gtk/GtkReleaseWindow.h"

namespace brenvo::platform {

using Sources = detail::AttachedSources<GLibRunLoopSource>;

void attachGtkHost(Services& services, GtkWindow* parent) {
    Sources::attach(services.runLoop);
    registerGtkWindow(services.windows, parent);
    // GTK's loop runs the default main context, where GLib's monitor reports from.
    if (!services.networkMonitor)
        services.networkMonitor = &GioNetworkMonitor::shared();
}

void attachGtkHost(GtkWindow* parent) {
    attachGtkHost(Services::shared(), parent);
}

void detachGtkHost(Services& services) {
    Sources::detach(services.runLoop);
}

} // namespace brenvo::platform
