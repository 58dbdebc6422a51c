#include "brenvo/platform/gtk/GtkHost.h"

#include "brenvo/platform/glib/GLibRunLoop.h"
#include "brenvo/platform/gtk/GtkReleaseWindow.h"

#include <map>
#include <memory>
#include <mutex>

namespace brenvo::platform {
namespace {

struct Attached {
    std::mutex lock;
    std::map<RunLoop*, std::unique_ptr<GLibRunLoopSource>> sources;
};

// Never destroyed: a host may detach from a static destructor.
Attached& attached() {
    static auto* all = new Attached();
    return *all;
}

} // namespace

void attachGtkHost(Services& services, GtkWindow* parent) {
    {
        Attached& all = attached();
        std::lock_guard<std::mutex> hold(all.lock);
        auto& source = all.sources[&services.runLoop];
        if (!source)
            source = std::make_unique<GLibRunLoopSource>(services.runLoop);
    }
    registerGtkWindow(services.windows, parent);
}

void attachGtkHost(GtkWindow* parent) {
    attachGtkHost(Services::shared(), parent);
}

void detachGtkHost(Services& services) {
    std::unique_ptr<GLibRunLoopSource> source;
    {
        Attached& all = attached();
        std::lock_guard<std::mutex> hold(all.lock);
        auto it = all.sources.find(&services.runLoop);
        if (it == all.sources.end())
            return;
        source = std::move(it->second);
        all.sources.erase(it);
    }
}

} // namespace brenvo::platform
