// Runs Brenvo's run loop inside a GLib main context, so GTK hosts (and Qt hosts on Linux, whose
// event loop is GLib's) fire the agent's timers on their own main loop, with no second thread.
//
//   brenvo::platform::GLibRunLoopSource source(brenvo::platform::RunLoop::currentRunLoop());
//   brenvo::Brenvo agent;
//   gtk_main();   // the agent's timers now fire from here
#pragma once

#include "brenvo/Export.h"
#include "brenvo/platform/Log.h"
#include "brenvo/platform/RunLoop.h"
#include "brenvo/platform/Workspace.h"

extern "C" {
typedef struct _GMainContext GMainContext;
typedef struct _GSource GSource;
}

namespace brenvo::platform {

// A GLib event source that dispatches `loop` whenever one of its timers is due or one of its
// watched descriptors is readable (the terminal window's answer, for instance). It sleeps until
// the loop's next deadline and adds no wake-ups of its own. Attach it to the context that runs
// on the loop's thread; destroying it detaches it.
class BRENVO_EXPORT GLibRunLoopSource {
public:
    // Attaches to the thread-default main context (the global default when none is pushed).
    explicit GLibRunLoopSource(RunLoop& loop);
    // Attaches to `context`; nullptr means the global default context.
    GLibRunLoopSource(RunLoop& loop, GMainContext* context);
    ~GLibRunLoopSource();
    GLibRunLoopSource(const GLibRunLoopSource&) = delete;
    GLibRunLoopSource& operator=(const GLibRunLoopSource&) = delete;

    RunLoop& runLoop() { return loop_; }

private:
    RunLoop& loop_;
    GSource* source_ = nullptr;
};

// Opens URLs with the desktop's default handler for their scheme, through GIO. A launch that
// fails is reported on `log` (when given).
class BRENVO_EXPORT GioWorkspace final : public Workspace {
public:
    GioWorkspace() = default;
    explicit GioWorkspace(Log* log) : log_(log) {}
    bool openURL(std::string_view url) override;

private:
    Log* log_ = nullptr;
};

} // namespace brenvo::platform
