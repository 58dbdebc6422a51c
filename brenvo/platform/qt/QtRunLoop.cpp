#include "brenvo/platform/qt/QtRunLoop.h"

#include "brenvo/platform/detail/HostLoops.h"

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <map>
#include <utility>
#include <vector>

namespace brenvo::platform {
namespace {

// The loops that a QtRunLoopSource runs. Never destroyed: a source may outlive static objects.
detail::DrivenLoops& drivenLoops() {
    static auto* loops = new detail::DrivenLoops();
    return *loops;
}

} // namespace

struct QtRunLoopSource::Impl {
    explicit Impl(RunLoop& l) : loop(l) {
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, &timer, [this] { serve(); });
        if (auto* dispatcher = QAbstractEventDispatcher::instance(QThread::currentThread()))
            aboutToBlock = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock,
                                            &timer, [this] { update(); });
    }
    ~Impl() { QObject::disconnect(aboutToBlock); }

    void serve() {
        loop.dispatch();
        update();
    }

    void update() {
        // One notifier per descriptor and direction the loop waits for; paused watches get none.
        std::vector<std::pair<int, QSocketNotifier::Type>> wanted;
        for (const RunLoop::Watched& watch : loop.watches()) {
            if ((watch.events & RunLoop::kReadable) != 0)
                wanted.emplace_back(watch.fd, QSocketNotifier::Read);
            if ((watch.events & RunLoop::kWritable) != 0)
                wanted.emplace_back(watch.fd, QSocketNotifier::Write);
        }
        std::sort(wanted.begin(), wanted.end());
        wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
        for (auto it = notifiers.begin(); it != notifiers.end();) {
            if (std::binary_search(wanted.begin(), wanted.end(), it->first)) {
                ++it;
            } else {
                it->second->setEnabled(false);
                it = notifiers.erase(it);
            }
        }
        for (const auto& key : wanted) {
            if (notifiers.count(key) != 0)
                continue;
            auto notifier = std::make_unique<QSocketNotifier>(key.first, key.second);
            QObject::connect(notifier.get(), &QSocketNotifier::activated, &timer,
                             [this] { serve(); });
            notifiers.emplace(key, std::move(notifier));
        }

        std::optional<std::chrono::nanoseconds> next = loop.nextTimeout();
        if (!next) {
            timer.stop();
            return;
        }
        // Round up, so the timer never fires just before the deadline and spins.
        long long ms = next->count() <= 0 ? 0 : (next->count() + 999'999) / 1'000'000;
        int interval = ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
        if (!timer.isActive() || timer.remainingTime() != interval)
            timer.start(interval);
    }

    RunLoop& loop;
    QTimer timer;
    std::map<std::pair<int, QSocketNotifier::Type>, std::unique_ptr<QSocketNotifier>> notifiers;
    QMetaObject::Connection aboutToBlock;
};

QtRunLoopSource::QtRunLoopSource(RunLoop& loop) : impl_(std::make_unique<Impl>(loop)) {
    drivenLoops().add(loop);
    impl_->update();
}

QtRunLoopSource::~QtRunLoopSource() {
    drivenLoops().remove(impl_->loop);
}

RunLoop& QtRunLoopSource::runLoop() {
    return impl_->loop;
}

void QtRunLoopSource::update() {
    impl_->update();
}

bool QtRunLoopSource::drives(const RunLoop& loop) {
    return drivenLoops().contains(loop);
}

} // namespace brenvo::platform
