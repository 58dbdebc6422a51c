// The one QApplication of a Qt test process, on an Xvfb server of its own (Qt keeps its display
// connection for the life of the process), and a way to serve Qt's events until something holds.
#pragma once

#include "support/Xvfb.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdlib>
#include <functional>

namespace brenvo::test {

// Creates the server and the application on first use; false when Xvfb could not start.
inline bool qtTestApp() {
    static Xvfb* xvfb = nullptr;
    if (!xvfb) {
        xvfb = new Xvfb();
        if (xvfb->display().empty())
            return false;
        ::setenv("DISPLAY", xvfb->display().c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        ::unsetenv("WAYLAND_DISPLAY");
        static int argc = 1;
        static char name[] = "qt_tests";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv);
    }
    return !xvfb->display().empty();
}

// Serves Qt's events as its event loop does, waiting for them between passes, until `done()`
// holds or 30 s have passed; false on the time limit.
inline bool serveQtUntil(const std::function<bool()>& done) {
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer tick; // wakes the wait now and then, to look at done() again
    tick.start(20);
    while (!done()) {
        if (elapsed.elapsed() > 30'000)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

} // namespace brenvo::test
