// One call that wires Brenvo into a GTK 3 application: the agent's run loop runs from GTK's main
// loop, and a found update shows in a GTK window in front of the host's own.
//
//   int main(int argc, char** argv) {
//       gtk_init(&argc, &argv);
//       GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
//       brenvo::platform::attachGtkHost(GTK_WINDOW(window)); // nullptr: no parent window
//       brenvo::Brenvo agent;
//       gtk_widget_show_all(window);
//       gtk_main();
//   }
#pragma once

#include "brenvo/Export.h"
#include "brenvo/platform/Services.h"

extern "C" {
typedef struct _GtkWindow GtkWindow;
}

namespace brenvo::platform {

// Runs `services.runLoop` from the calling thread's default GLib main context (once, however
// often this is called) and registers the GTK window in `services.windows`, transient for
// `parent` when given; the newest call's parent counts. Without a network monitor in `services`
// it sets GLib's (GioNetworkMonitor). Call it on the thread that runs GTK.
BRENVO_EXPORT void attachGtkHost(Services& services, GtkWindow* parent);
// The same for Services::shared().
BRENVO_EXPORT void attachGtkHost(GtkWindow* parent);
// Stops running `services.runLoop` from GLib; the window stays registered.
BRENVO_EXPORT void detachGtkHost(Services& services);

} // namespace brenvo::platform
