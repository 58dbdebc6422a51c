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

struct LoopSource {
    GSource base;
    RunLoop* loop;
    std::map<int, gpointer>* polled; // descriptor -> GLib's tag for it
};

LoopSource& stateOf(GSource* source) {
    return *reinterpret_cast<LoopSource*>(source);
}

RunLoop& loopOf(GSource* source) {
    return *stateOf(source).loop;
}

// Makes GLib poll exactly the descriptors the loop watches, so a readable one wakes the context.
void pollWatchedDescriptors(GSource* source) {
    std::map<int, gpointer>& polled = *stateOf(source).polled;
    std::vector<int> wanted = loopOf(source).watchedDescriptors();
    std::sort(wanted.begin(), wanted.end());
    for (auto it = polled.begin(); it != polled.end();) {
        if (std::binary_search(wanted.begin(), wanted.end(), it->first)) {
            ++it;
        } else {
            g_source_remove_unix_fd(source, it->second);
            it = polled.erase(it);
        }
    }
    for (int fd : wanted) {
        if (polled.find(fd) == polled.end())
            polled.emplace(
                fd, g_source_add_unix_fd(source, fd,
                                         static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR)));
    }
}

bool anyDescriptorReady(GSource* source) {
    for (const auto& [fd, tag] : *stateOf(source).polled) {
        if (g_source_query_unix_fd(source, tag) != 0)
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
    stateOf(source_).polled = new std::map<int, gpointer>();
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
