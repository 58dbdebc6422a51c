#include "brenvo/platform/glib/GLibRunLoop.h"

#include "brenvo/platform/detail/HostLoops.h"
#include "brenvo/platform/linux/XdgOpenWorkspace.h"

#include <gio/gio.h>
#include <glib.h>

#include <algorithm>
#include <climits>
#include <map>
#include <string>
#include <vector>

namespace brenvo::platform {
namespace {

// Loading this library makes GIO the first launcher of every XdgOpenWorkspace.
[[maybe_unused]] const bool gioInstalled = [] {
    setDesktopUrlLauncher(&GioWorkspace::launchWithGio);
    return true;
}();

// The loops that a GLibRunLoopSource runs. Never destroyed: a source may outlive static objects.
detail::DrivenLoops& drivenLoops() {
    static auto* loops = new detail::DrivenLoops();
    return *loops;
}

struct Polled {
    gpointer tag;        // GLib's tag for the descriptor
    GIOCondition events; // what it is polled for
};

struct LoopSource {
    GSource base;
    RunLoop* loop;
    std::map<int, Polled>* polled;
};

LoopSource& stateOf(GSource* source) {
    return *reinterpret_cast<LoopSource*>(source);
}

RunLoop& loopOf(GSource* source) {
    return *stateOf(source).loop;
}

// Makes GLib poll exactly the descriptors the loop watches, for what they wait for (readable,
// writable), so a ready one wakes the context.
void pollWatchedDescriptors(GSource* source) {
    std::map<int, Polled>& polled = *stateOf(source).polled;
    std::map<int, GIOCondition> wanted;
    for (const RunLoop::Watched& watch : loopOf(source).watches()) {
        if (watch.events == 0)
            continue;
        auto events = static_cast<GIOCondition>(G_IO_HUP | G_IO_ERR);
        if ((watch.events & RunLoop::kReadable) != 0)
            events = static_cast<GIOCondition>(events | G_IO_IN);
        if ((watch.events & RunLoop::kWritable) != 0)
            events = static_cast<GIOCondition>(events | G_IO_OUT);
        auto [entry, added] = wanted.emplace(watch.fd, events);
        if (!added)
            entry->second = static_cast<GIOCondition>(entry->second | events);
    }
    for (auto it = polled.begin(); it != polled.end();) {
        const auto want = wanted.find(it->first);
        if (want == wanted.end()) {
            g_source_remove_unix_fd(source, it->second.tag);
            it = polled.erase(it);
            continue;
        }
        if (want->second != it->second.events) {
            g_source_modify_unix_fd(source, it->second.tag, want->second);
            it->second.events = want->second;
        }
        ++it;
    }
    for (const auto& [fd, events] : wanted) {
        if (polled.find(fd) == polled.end())
            polled.emplace(fd, Polled{g_source_add_unix_fd(source, fd, events), events});
    }
}

bool anyDescriptorReady(GSource* source) {
    for (const auto& [fd, polled] : *stateOf(source).polled) {
        if (g_source_query_unix_fd(source, polled.tag) != 0)
            return true;
    }
    return false;
}

gboolean prepare(GSource* source, gint* timeout) {
    pollWatchedDescriptors(source);
    auto next = loopOf(source).nextTimeout();
    if (!next) {
        *timeout = -1; // nothing pending: sleep until some other source wakes the context
        return FALSE;
    }
    if (next->count() <= 0) {
        *timeout = 0;
        return TRUE;
    }
    // Round up, so the source never wakes just before the deadline and spins.
    long long ms = (next->count() + 999'999) / 1'000'000;
    *timeout = ms > INT_MAX ? INT_MAX : static_cast<gint>(ms);
    return FALSE;
}

gboolean check(GSource* source) {
    auto next = loopOf(source).nextTimeout();
    return (next && next->count() <= 0) || anyDescriptorReady(source);
}

gboolean dispatchSource(GSource* source, GSourceFunc, gpointer) {
    loopOf(source).dispatch();
    return G_SOURCE_CONTINUE;
}

void finalize(GSource* source) {
    delete stateOf(source).polled;
}

GSourceFuncs loopSourceFuncs = {prepare, check, dispatchSource, finalize, nullptr, nullptr};

} // namespace

GLibRunLoopSource::GLibRunLoopSource(RunLoop& loop)
    : GLibRunLoopSource(loop, g_main_context_get_thread_default()) {}

GLibRunLoopSource::GLibRunLoopSource(RunLoop& loop, GMainContext* context) : loop_(loop) {
    source_ = g_source_new(&loopSourceFuncs, sizeof(LoopSource));
    stateOf(source_).loop = &loop_;
    stateOf(source_).polled = new std::map<int, Polled>();
    g_source_set_name(source_, "Brenvo run loop");
    g_source_attach(source_, context);
    drivenLoops().add(loop_);
}

GLibRunLoopSource::~GLibRunLoopSource() {
    g_source_destroy(source_);
    g_source_unref(source_);
    drivenLoops().remove(loop_);
}

bool GLibRunLoopSource::drives(const RunLoop& loop) {
    return drivenLoops().contains(loop);
}

GLibContextPump::GLibContextPump(RunLoop& loop, GMainContext* context)
    : loop_(loop), context_(context ? g_main_context_ref(context)
                                    : g_main_context_ref(g_main_context_default())) {
    g_main_context_acquire(context_);
    refresh();
}

GLibContextPump::~GLibContextPump() {
    if (timer_)
        timer_->invalidate();
    for (uint64_t watch : watches_)
        loop_.removeWatch(watch);
    g_main_context_release(context_);
    g_main_context_unref(context_);
}

void GLibContextPump::refresh() {
    if (refreshing_)
        return; // a source dispatched below asked again: the loop below covers it
    refreshing_ = true;
    // Everything ready without waiting runs now; the bound keeps a source that is always ready
    // from starving the run loop, which comes back through a timer of delay 0.
    int passes = 0;
    while (passes < 64 && g_main_context_iteration(context_, FALSE))
        ++passes;
    refreshing_ = false;
    watchContext();
    if (passes == 64) {
        if (timer_)
            timer_->invalidate();
        timer_ = Timer::timerWithTimeInterval(0, [this] { refresh(); });
        loop_.addTimer(timer_, kDefaultRunLoopMode);
    }
}

// Asks the context for its descriptors and timeout, as a GLib main loop would before polling,
// and hands them to the run loop.
void GLibContextPump::watchContext() {
    gint priority = 0;
    bool ready = g_main_context_prepare(context_, &priority);
    std::vector<GPollFD> fds(8);
    gint timeout = -1;
    gint count;
    while ((count = g_main_context_query(context_, priority, &timeout, fds.data(),
                                         static_cast<gint>(fds.size()))) >
           static_cast<gint>(fds.size()))
        fds.resize(static_cast<size_t>(count));
    fds.resize(static_cast<size_t>(count));
    // Nothing was polled: close the pass without waiting, as a poll that saw nothing would.
    for (GPollFD& fd : fds)
        fd.revents = 0;
    if (g_main_context_check(context_, priority, fds.data(), count)) {
        g_main_context_dispatch(context_);
        ready = true;
    }

    std::vector<std::pair<int, unsigned>> wanted;
    for (const GPollFD& fd : fds) {
        unsigned events = 0;
        if ((fd.events & (G_IO_IN | G_IO_PRI)) != 0)
            events |= RunLoop::kReadable;
        if ((fd.events & G_IO_OUT) != 0)
            events |= RunLoop::kWritable;
        if (events != 0)
            wanted.emplace_back(fd.fd, events);
    }
    std::sort(wanted.begin(), wanted.end());
    if (wanted != watchedFds_) {
        for (uint64_t watch : watches_)
            loop_.removeWatch(watch);
        watches_.clear();
        for (const auto& [fd, events] : wanted)
            watches_.push_back(loop_.watchDescriptor(fd, events, [this](unsigned) { refresh(); }));
        watchedFds_ = std::move(wanted);
    }

    if (timer_)
        timer_->invalidate();
    timer_.reset();
    if (ready || timeout >= 0) {
        double seconds = ready ? 0.0 : timeout / 1000.0;
        timer_ = Timer::timerWithTimeInterval(seconds, [this] { refresh(); });
        loop_.addTimer(timer_, kDefaultRunLoopMode);
    }
}

bool GioWorkspace::launchWithGio(std::string_view url, std::string& why) {
    std::string text(url);
    GError* error = nullptr;
    if (g_app_info_launch_default_for_uri(text.c_str(), nullptr, &error))
        return true;
    why = error && error->message ? error->message : "no handler";
    if (error)
        g_error_free(error);
    return false;
}

bool GioWorkspace::openURL(std::string_view url) {
    return XdgOpenWorkspace::openURL(url, &GioWorkspace::launchWithGio, program_, log_);
}

} // namespace brenvo::platform
