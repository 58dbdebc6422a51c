#include "brenvo/platform/qt/QtHost.h"

#include "brenvo/platform/detail/HostLoops.h"
#include "brenvo/platform/qt/QtReleaseWindow.h"
#include "brenvo/platform/qt/QtRunLoop.h"

namespace brenvo::platform {

using Sources = detail::AttachedSources<QtRunLoopSource>;

void attachQtHost(Services& services, QWidget* parent) {
    Sources::attach(services.runLoop);
    registerQtWindow(services.windows, parent);
}

void attachQtHost(QWidget* parent) {
    attachQtHost(Services::shared(), parent);
}

void detachQtHost(Services& services) {
    Sources::detach(services.runLoop);
}

} // namespace brenvo::platform
