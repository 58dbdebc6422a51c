// The release-info window in GTK 3: the window title, the title text in bold, the description,
// "Release Notes:" over a scrolled, read-only, wrapped view of the notes, and the two buttons,
// the store button being the default. The window opens centred and in front; closing it from
// the window manager counts as a close like any other.
//
// GTK runs on a GLib main loop, so the host's run loop must be driven from it:
//
//   brenvo::platform::GLibRunLoopSource source(services.runLoop);
//   brenvo::platform::registerGtkWindow(services.windows);
//   gtk_main();
#pragma once

#include "brenvo/Export.h"
#include "brenvo/platform/Window.h"

#include <memory>

namespace brenvo::platform {

// A GTK 3 window for `owner`; nullptr when GTK cannot start (no display, for one).
BRENVO_EXPORT std::unique_ptr<Window> makeGtkReleaseWindow(ReleaseWindowOwner& owner,
                                                           RunLoop& loop);

// Registers the GTK window under "BrenvoReleaseInfo". Where GTK cannot start, its factory gives
// nullptr and the window registered before it (the terminal window, normally) is used instead.
BRENVO_EXPORT void registerGtkWindow(WindowRegistry& registry);

} // namespace brenvo::platform
