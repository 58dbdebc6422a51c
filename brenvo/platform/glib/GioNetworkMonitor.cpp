#include "brenvo/platform/glib/GioNetworkMonitor.h"

#include "brenvo/platform/RunLoop.h"

#include <gio/gio.h>

#include <atomic>
#include <utility>

namespace brenvo::platform {
namespace {

// What a signal handler needs; shared with the loop's queued calls, which it outlives or not.
struct WatchState {
    std::shared_ptr<RunLoopInbox> inbox;
    std::function<void(bool)> changed;
    std::atomic<bool> active{true};
};

// GLib calls this on the thread of the monitor's context; the change goes to the agent's loop.
void onNetworkChanged(GNetworkMonitor*, gboolean available, gpointer data) {
    const std::shared_ptr<WatchState> state = *static_cast<std::shared_ptr<WatchState>*>(data);
    state->inbox->perform([state, available = available != FALSE] {
        if (state->active.load())
            state->changed(available);
    });
}

class GioWatch final : public NetworkWatch {
public:
    GioWatch(GNetworkMonitor* monitor, std::shared_ptr<WatchState> state)
        : monitor_(G_NETWORK_MONITOR(g_object_ref(monitor))), state_(std::move(state)) {
        handler_ = g_signal_connect_data(
            monitor_, "network-changed", G_CALLBACK(onNetworkChanged),
            new std::shared_ptr<WatchState>(state_),
            [](gpointer data, GClosure*) {
                delete static_cast<std::shared_ptr<WatchState>*>(data);
            },
            GConnectFlags{});
    }
    ~GioWatch() override {
        // Calls already queued on the loop find the watch gone and do nothing.
        state_->active.store(false);
        g_signal_handler_disconnect(monitor_, handler_);
        g_object_unref(monitor_);
    }
    GioWatch(const GioWatch&) = delete;
    GioWatch& operator=(const GioWatch&) = delete;

private:
    GNetworkMonitor* monitor_;
    std::shared_ptr<WatchState> state_;
    gulong handler_ = 0;
};

} // namespace

GioNetworkMonitor& GioNetworkMonitor::shared() {
    static auto* monitor = new GioNetworkMonitor(g_network_monitor_get_default());
    return *monitor;
}

GioNetworkMonitor::GioNetworkMonitor(GNetworkMonitor* monitor)
    : monitor_(G_NETWORK_MONITOR(g_object_ref(monitor))) {}

GioNetworkMonitor::~GioNetworkMonitor() {
    g_object_unref(monitor_);
}

bool GioNetworkMonitor::networkAvailable() {
    return g_network_monitor_get_network_available(monitor_) != FALSE;
}

std::unique_ptr<NetworkWatch>
GioNetworkMonitor::watch(RunLoop& loop, std::function<void(bool available)> changed) {
    auto state = std::make_shared<WatchState>();
    state->inbox = loop.inbox();
    state->changed = std::move(changed);
    return std::make_unique<GioWatch>(monitor_, std::move(state));
}

} // namespace brenvo::platform
