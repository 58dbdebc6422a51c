#include "brenvo/platform/qt/QtHost.h"

#include "brenvo/platform/qt/QtReleaseWindow.h"
#include "brenvo/platform/qt/QtRunLoop.h"

#include <map>
#include <memory>
#include <mutex>

namespace brenvo::platform {
namespace {

struct Attached {
    std::mutex lock;
    std::map<RunLoop*, std::unique_ptr<QtRunLoopSource>> sources;
};

// Never destroyed: a host may detach from a static destructor.
Attached& attached() {
    static auto* all = new Attached();
    return *all;
}

} // namespace

void attachQtHost(Services& services, QWidget* parent) {
    {
        Attached& all = attached();
        std::lock_guard<std::mutex> hold(all.lock);
        auto& source = all.sources[&services.runLoop];
        if (!source)
            source = std::make_unique<QtRunLoopSource>(services.runLoop);
    }
    registerQtWindow(services.windows, parent);
}

void attachQtHost(QWidget* parent) {
    attachQtHost(Services::shared(), parent);
}

void detachQtHost(Services& services) {
    std::unique_ptr<QtRunLoopSource> source;
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
