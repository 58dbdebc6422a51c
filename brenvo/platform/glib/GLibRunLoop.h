// Brenvo's run loop and GLib's main contexts, either way round: GLibRunLoopSource runs Brenvo's
// run loop inside a GLib main context, so GTK hosts fire the agent's timers on their own main loop
// with no second thread; GLibContextPump serves a GLib main context from Brenvo's run loop, for
// GLib-based parts (D-Bus signals, a GTK window) in hosts that run Brenvo's loop. GTK hosts
// normally make one call instead (brenvo/platform/gtk/GtkHost.h).
//
//   brenvo::platform::GLibRunLoopSource source(brenvo::platform::RunLoop::currentRunLoop());
//   brenvo::Brenvo agent;
//   gtk_main();   // the agent's timers now fire from here
//
// Loading Brenvo::glib also makes every XdgOpenWorkspace try GIO before xdg-open.
#pragma once

#include "brenvo/Export.h"
#include "brenvo/platform/Log.h"
#include "brenvo/platform/RunLoop.h"
#include "brenvo/platform/Workspace.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

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

    // True while some source runs `loop` from a GLib main context.
    static bool drives(const RunLoop& loop);

private:
    RunLoop& loop_;
    GSource* source_ = nullptr;
};

// Serves `context` from `loop`: the loop watches the context's descriptors, its wake-up one
// included, and keeps a timer for its next timeout; when either is due the context is iterated
// without blocking. The pump holds the context (g_main_context_acquire) for its life, so sources
// that other threads attach wake it. Code on the loop's thread that attaches sources itself calls
// refresh() afterwards. Not for a context that a GLib main loop already runs on this thread.
class BRENVO_EXPORT GLibContextPump {
public:
    GLibContextPump(RunLoop& loop, GMainContext* context);
    ~GLibContextPump();
    GLibContextPump(const GLibContextPump&) = delete;
    GLibContextPump& operator=(const GLibContextPump&) = delete;

    // Dispatches what is ready now, then re-reads the context's descriptors and timeout.
    void refresh();
    GMainContext* context() const { return context_; }

private:
    void watchContext();

    RunLoop& loop_;
    GMainContext* context_;
    std::vector<std::pair<int, unsigned>> watchedFds_; // descriptor, RunLoop events
    std::vector<uint64_t> watches_;
    std::shared_ptr<Timer> timer_;
    bool refreshing_ = false;
};

// Opens URLs with the desktop's default handler for their scheme through GIO, else with
// `program` (xdg-open unless named); when neither can, says so on `log` (when given).
class BRENVO_EXPORT GioWorkspace final : public Workspace {
public:
    GioWorkspace() = default;
    explicit GioWorkspace(Log* log) : log_(log) {}
    GioWorkspace(Log* log, std::string program) : log_(log), program_(std::move(program)) {}
    bool openURL(std::string_view url) override;

    // GIO's launcher, as installed for XdgOpenWorkspace.
    static bool launchWithGio(std::string_view url, std::string& why);

private:
    Log* log_ = nullptr;
    std::string program_ = "xdg-open";
};

} // namespace brenvo::platform
