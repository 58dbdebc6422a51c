// One call that wires Brenvo into a Qt 6 Widgets application: the agent's run loop runs from Qt's
// event loop (on GLib's dispatcher or Qt's own), and a found update shows in a Qt dialog in front
// of the host's window.
//
//   int main(int argc, char** argv) {
//       QApplication app(argc, argv);
//       QMainWindow window;
//       brenvo::platform::attachQtHost(&window); // nullptr: no parent window
//       brenvo::Brenvo agent;
//       window.show();
//       return app.exec();
//   }
#pragma once

#include "brenvo/Export.h"
#include "brenvo/platform/Services.h"

class QWidget;

namespace brenvo::platform {

// Runs `services.runLoop` from the calling thread's Qt event loop (once, however often this is
// called; a QApplication must exist) and registers the Qt window in `services.windows`, a child
// of `parent` when given; the newest call's parent counts. On GLib's dispatcher, without a network
// monitor in `services`, it sets GLib's (GioNetworkMonitor). Call it on the GUI thread.
BRENVO_EXPORT void attachQtHost(Services& services, QWidget* parent);
// The same for Services::shared().
BRENVO_EXPORT void attachQtHost(QWidget* parent);
// Stops running `services.runLoop` from Qt; the window stays registered.
BRENVO_EXPORT void detachQtHost(Services& services);

} // namespace brenvo::platform
