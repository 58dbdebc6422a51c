#include "brenvo/platform/glib/GLibRunLoop.h"

#include <gio/gio.h>
#include <glib.h>

#include <algorithm>
#include <climits>
#include <map>
#include <string>
#include <vector>

namespace brenvo::platform {
namespace {

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
}

GLibRunLoopSource::~GLibRunLoopSource() {
    g_source_destroy(source_);
    g_source_unref(source_);
}

bool GioWorkspace::openURL(std::string_view url) {
    std::string text(url);
    GError* error = nullptr;
    gboolean launched = g_app_info_launch_default_for_uri(text.c_str(), nullptr, &error);
    if (!launched) {
        if (log_)
            log_->write("Brenvo: Cannot open " + text + ": " +
                        (error && error->message ? error->message : "no handler"));
        if (error)
            g_error_free(error);
        return false;
    }
    return true;
}

} // namespace brenvo::platform
