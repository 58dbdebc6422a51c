// The release-info window in Qt 6 Widgets, a dialog with the texts, layout and default button of
// the GTK window: the title text in bold, the description, "Release Notes:" over a read-only,
// wrapped, scrolling view of the notes, and "Skip This Version" and "Open App Store For Update"
// with keyboard mnemonics, the store button being the default (Enter). It opens centred (on the
// host's window when it names one as its parent) and in front; Escape and the window manager's
// close box close it like any other close. Outside text is shown as plain text, never as markup.
//
// A Qt host wires the run loop and this window in one call (brenvo/platform/qt/QtHost.h).
// Loading Brenvo::qt6 also offers this window to the default services (see
// registerDefaultWindows()): it is used when the host has a QApplication on a display and runs
// the agent's loop from Qt (QtRunLoopSource), unless the host registers a window of its own.
#pragma once

#include "brenvo/Export.h"
#include "brenvo/platform/Window.h"

#include <memory>

class QWidget;

namespace brenvo::platform {

// A Qt window for `owner`, a child dialog of `parent` when given; nullptr without a
// QApplication or on a platform that shows nothing ("offscreen", "minimal").
BRENVO_EXPORT std::unique_ptr<Window> makeQtReleaseWindow(ReleaseWindowOwner& owner, RunLoop& loop);
BRENVO_EXPORT std::unique_ptr<Window> makeQtReleaseWindow(ReleaseWindowOwner& owner, RunLoop& loop,
                                                          QWidget* parent);

// Registers the Qt window under kReleaseInfoWindow, with `parent` as its parent while that
// widget exists. Where the factory gives nullptr the window registered before it is used.
BRENVO_EXPORT void registerQtWindow(WindowRegistry& registry);
BRENVO_EXPORT void registerQtWindow(WindowRegistry& registry, QWidget* parent);

} // namespace brenvo::platform
