#include "brenvo/platform/qt/QtHost.h"

#include "brenvo/platform/detail/HostLoops.h"
#include "brenvo/platform/qt/QtReleaseWindow.h"
#include "brenvo/platform/qt/QtRunLoop.h"

#ifdef BRENVO_QT_WITH_GLIB
#include "brenvo/platform/glib/GioNetworkMonitor.h"

#include <QAbstractEventDispatcher>
#endif

namespace brenvo::platform {

using Sources = detail::AttachedSources<QtRunLoopSource>;

void attachQtHost(Services& services, QWidget* parent) {
    Sources::attach(services.runLoop);
    registerQtWindow(services.windows, parent);
#ifdef BRENVO_QT_WITH_GLIB
    // On GLib's dispatcher Qt runs the default main context, where GLib's monitor reports from.
    const QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (!services.networkMonitor && dispatcher && dispatcher->inherits("QEventDispatcherGlib"))
        services.networkMonitor = &GioNetworkMonitor::shared();
#endif
}

void attachQtHost(QWidget* parent) {
    attachQtHost(Services::shared(), parent);
}

void detachQtHost(Services& services) {
    Sources::detach(services.runLoop);
}

} // namespace brenvo::platform
