#include "brenvo/platform/glib/GLibRunLoop.h"

#include <gio/gio.h>
#include <glib.h>

#include <climits>
#include <string>

namespace brenvo::platform {
namespace {

struct LoopSource {
    GSource base;
    RunLoop* loop;
};

RunLoop& loopOf(GSource* source) {
    return *reinterpret_cast<LoopSource*>(source)->loop;
}

gboolean prepare(GSource* source, gint* timeout) {
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
    return next && next->count() <= 0;
}

gboolean dispatchSource(GSource* source, GSourceFunc, gpointer) {
    loopOf(source).dispatch();
    return G_SOURCE_CONTINUE;
}

GSourceFuncs loopSourceFuncs = {prepare, check, dispatchSource, nullptr, nullptr, nullptr};

} // namespace

GLibRunLoopSource::GLibRunLoopSource(RunLoop& loop)
    : GLibRunLoopSource(loop, g_main_context_get_thread_default()) {}

GLibRunLoopSource::GLibRunLoopSource(RunLoop& loop, GMainContext* context) : loop_(loop) {
    source_ = g_source_new(&loopSourceFuncs, sizeof(LoopSource));
    reinterpret_cast<LoopSource*>(source_)->loop = &loop_;
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
