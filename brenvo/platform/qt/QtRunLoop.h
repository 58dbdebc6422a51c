// Runs Brenvo's run loop from a Qt event loop, whichever event dispatcher Qt uses (GLib's or its
// own): the loop's next deadline becomes a precise QTimer and each watched descriptor a
// QSocketNotifier for reading, writing or both (the store lookup's connection among them), all
// brought up to date after every pass of the loop and whenever Qt is about to wait. Qt hosts
// normally make one call instead (brenvo/platform/qt/QtHost.h).
//
//   QApplication app(argc, argv);
//   brenvo::platform::QtRunLoopSource source(brenvo::platform::RunLoop::currentRunLoop());
//   brenvo::Brenvo agent;
//   return app.exec(); // the agent's timers fire from here
#pragma once

#include "brenvo/Export.h"
#include "brenvo/platform/RunLoop.h"

#include <memory>

namespace brenvo::platform {

class BRENVO_EXPORT QtRunLoopSource {
public:
    // Serves `loop` from the calling thread's Qt event dispatcher, which must exist (a
    // QCoreApplication, or a QThread's loop). Destroying the source stops it.
    explicit QtRunLoopSource(RunLoop& loop);
    ~QtRunLoopSource();
    QtRunLoopSource(const QtRunLoopSource&) = delete;
    QtRunLoopSource& operator=(const QtRunLoopSource&) = delete;

    RunLoop& runLoop();
    // Brings the timer and the descriptor notifiers up to date with the loop now.
    void update();

    // True while some source runs `loop` from a Qt event loop.
    static bool drives(const RunLoop& loop);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace brenvo::platform
