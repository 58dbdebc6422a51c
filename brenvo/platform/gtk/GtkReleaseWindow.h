// The release-info window in GTK 3: the window title, the title text in bold, the description,
// "Release Notes:" over a scrolled, read-only, wrapped view of the notes, and the two buttons with
// keyboard mnemonics, the store button being the default (Enter). The window opens centred (on
// the host's window when it names one as its parent) and in front; Escape and the window
// manager's close box close it like any other close.
//
// A GTK host wires the run loop and this window in one call (brenvo/platform/gtk/GtkHost.h).
// In a host that runs Brenvo's own run loop instead of GLib's, the window has the run loop serve
// GTK's events while it is open. Loading Brenvo::gtk3 also offers this window to the default
// services (see registerDefaultWindows()), so it is used when a display is available and the
// host registers no window of its own.
#pragma once

#include "brenvo/Export.h"
#include "brenvo/platform/Window.h"

#include <memory>

extern "C" {
typedef struct _GtkWindow GtkWindow;
}

namespace brenvo::platform {

// A GTK 3 window for `owner`, transient for `parent` when given; nullptr when GTK cannot start
// (no display, for one).
BRENVO_EXPORT std::unique_ptr<Window> makeGtkReleaseWindow(ReleaseWindowOwner& owner,
                                                           RunLoop& loop);
BRENVO_EXPORT std::unique_ptr<Window> makeGtkReleaseWindow(ReleaseWindowOwner& owner, RunLoop& loop,
                                                           GtkWindow* parent);

// Registers the GTK window under kReleaseInfoWindow, transient for `parent` while that window
// exists. Where GTK cannot start, its factory gives nullptr and the window registered before it
// is used instead.
BRENVO_EXPORT void registerGtkWindow(WindowRegistry& registry);
BRENVO_EXPORT void registerGtkWindow(WindowRegistry& registry, GtkWindow* parent);

} // namespace brenvo::platform
