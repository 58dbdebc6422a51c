// GLib's network monitor (netlink, NetworkManager or the desktop portal, whichever GIO picks) as
// the agent's. attachGtkHost and attachQtHost (on GLib) set it; a host that runs a GLib main loop
// on its own sets it itself, on that loop's thread:
//
//   brenvo::platform::GLibRunLoopSource source(brenvo::platform::RunLoop::currentRunLoop());
//   brenvo::platform::Services::shared().networkMonitor =
//   &brenvo::platform::GioNetworkMonitor::shared(); brenvo::Brenvo agent;
#pragma once

#include "brenvo/Export.h"
#include "brenvo/platform/NetworkMonitor.h"

extern "C" {
typedef struct _GNetworkMonitor GNetworkMonitor;
}

namespace brenvo::platform {

class BRENVO_EXPORT GioNetworkMonitor final : public NetworkMonitor {
public:
    // GLib's default monitor. GLib reports its changes from the main context that was the
    // thread's default when it was first asked for: call this first on the thread whose GLib
    // main loop runs. Never destroyed.
    static GioNetworkMonitor& shared();
    // Another monitor, for instance one of the host's own; holds a reference to it.
    explicit GioNetworkMonitor(GNetworkMonitor* monitor);
    ~GioNetworkMonitor() override;
    GioNetworkMonitor(const GioNetworkMonitor&) = delete;
    GioNetworkMonitor& operator=(const GioNetworkMonitor&) = delete;

    bool networkAvailable() override;
    std::unique_ptr<NetworkWatch> watch(RunLoop& loop,
                                        std::function<void(bool available)> changed) override;

private:
    GNetworkMonitor* monitor_;
};

} // namespace brenvo::platform
