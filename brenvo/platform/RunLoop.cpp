#include "brenvo/platform/RunLoop.h"

#include "brenvo/platform/detail/IdleWatchdog.h"
#include "brenvo/platform/detail/System.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

namespace brenvo::platform {

using std::chrono::nanoseconds;

namespace {

thread_local RunLoop* tCurrentLoop = nullptr;

// Adds `seconds` to `now`, saturating at the far future; negative and NaN delays count as 0.
nanoseconds deadlineAfter(nanoseconds now, double seconds) {
    if (!(seconds > 0)) {
        return now;
    }
    const double nanos = std::ceil(seconds * 1e9);
    const nanoseconds room = nanoseconds::max() - now;
    if (nanos >= static_cast<double>(room.count())) {
        return nanoseconds::max();
    }
    return now + nanoseconds(static_cast<int64_t>(nanos));
}

nanoseconds addSaturating(nanoseconds a, nanoseconds b) {
    if (b <= nanoseconds::zero()) {
        return a;
    }
    if (a > nanoseconds::max() - b) {
        return nanoseconds::max();
    }
    return a + b;
}

// How long a loop waits for pending I/O before it looks at its timers again.
constexpr nanoseconds kPendingIOStep = std::chrono::milliseconds(100);

} // namespace

std::shared_ptr<Timer> Timer::timerWithTimeInterval(double seconds, std::function<void()> action) {
    return std::make_shared<Timer>(seconds, std::move(action));
}

Timer::Timer(double seconds, std::function<void()> action)
    : interval_(seconds), action_(std::move(action)) {}

struct RunLoop::Impl {
    using Key = std::pair<nanoseconds, uint64_t>; // deadline, arming order

    struct Entry {
        std::shared_ptr<Timer> timer;
        std::vector<std::string> modes;

        bool runsIn(std::string_view mode) const {
            return std::find(modes.begin(), modes.end(), mode) != modes.end();
        }
    };

    struct Watch {
        int fd;
        unsigned events;
        std::shared_ptr<std::function<void(unsigned)>> callback;
    };

    // An inbox reaches the loop only through a wake-up descriptor.
    explicit Impl(Clock& c)
        : clock(c), inbox(new RunLoopInbox(events.wakeDescriptor() >= 0 ? &events : nullptr)) {}

    ~Impl() {
        // Whoever still holds the inbox finds it closed; work it holds goes with the loop.
        std::vector<std::function<void()>> dropped;
        std::lock_guard<std::mutex> lock(inbox->mutex_);
        inbox->wait_ = nullptr;
        dropped.swap(inbox->actions_);
    }

    // Runs the work other threads handed over so far, in the order it came.
    void serveInbox() {
        std::vector<std::function<void()>> actions;
        {
            std::lock_guard<std::mutex> lock(inbox->mutex_);
            actions.swap(inbox->actions_);
        }
        for (auto& action : actions) {
            action();
        }
    }

    bool inboxHasWork() const {
        std::lock_guard<std::mutex> lock(inbox->mutex_);
        return !inbox->actions_.empty();
    }

    Clock& clock;
    std::map<Key, Entry> queue;
    std::unordered_map<uint64_t, Key> keyOfTimer;
    uint64_t nextSequence = 1;
    std::map<uint64_t, Watch> watches;
    uint64_t nextWatch = 1;
    // Woken by quit() and the inbox from any thread.
    detail::EventWait events;
    std::shared_ptr<RunLoopInbox> inbox;
    std::atomic<bool> quitRequested{false};
    size_t pendingIO = 0;
    // Passes made, for the idle watchdog on another thread.
    std::atomic<uint64_t> passes{0};

    void removeTimer(uint64_t id) {
        const auto found = keyOfTimer.find(id);
        if (found == keyOfTimer.end()) {
            return;
        }
        queue.erase(found->second);
        keyOfTimer.erase(found);
    }

    bool hasTimersIn(std::string_view mode) const {
        return std::any_of(queue.begin(), queue.end(),
                           [&](const auto& item) { return item.second.runsIn(mode); });
    }

    std::optional<nanoseconds> earliestIn(std::string_view mode) const {
        for (const auto& [key, entry] : queue) {
            if (entry.runsIn(mode)) {
                return key.first;
            }
        }
        return std::nullopt;
    }

    // Fires, in deadline order, the timers of `mode` due at `now` that were armed before the pass
    // began (sequence below `limit`). With `stopOnQuit`, stops early once quit() is called.
    void fireDue(std::string_view mode, nanoseconds now, uint64_t limit, bool stopOnQuit) {
        while (!(stopOnQuit && quitRequested.load())) {
            auto it = queue.begin();
            while (it != queue.end() && it->first.first <= now &&
                   (it->first.second >= limit || !it->second.runsIn(mode))) {
                ++it;
            }
            if (it == queue.end() || it->first.first > now) {
                return;
            }
            std::shared_ptr<Timer> timer = std::move(it->second.timer);
            keyOfTimer.erase(it->first.second);
            queue.erase(it);
            timer->valid_ = false;
            timer->loop_ = nullptr;
            std::function<void()> action = std::move(timer->action_);
            timer->action_ = nullptr;
            if (action) {
                action();
            }
        }
    }

    // Waits at most `timeout` (nullopt: without limit) for the wake-up and the watched
    // descriptors, then serves the inbox and the ready watches. True when anything was ready.
    bool pollAndServe(std::optional<nanoseconds> timeout) {
        std::vector<detail::EventWait::Item> items;
        std::vector<uint64_t> handles;
        items.reserve(watches.size());
        handles.reserve(watches.size());
        for (const auto& [handle, watch] : watches) {
            if (watch.events != 0) {
                items.push_back({watch.fd, watch.events});
                handles.push_back(handle);
            }
        }
        const detail::EventWait::Result result = events.wait(items, timeout);
        if (!result.anyReady) {
            return false;
        }
        if (result.woken) {
            serveInbox();
        }
        for (size_t i = 0; i < items.size(); ++i) {
            if (items[i].ready == 0) {
                continue;
            }
            const auto found = watches.find(handles[i]);
            if (found == watches.end()) {
                continue; // removed by an earlier callback of this pass
            }
            const auto callback = found->second.callback;
            if (items[i].closed) {
                // The descriptor was closed under the watch: report once, then drop it so the
                // loop does not spin on it.
                watches.erase(found);
            }
            (*callback)(items[i].ready);
            if (quitRequested.load()) {
                break;
            }
        }
        return true;
    }

    // Waits until `target` (nullopt: until a descriptor is ready), serving ready descriptors.
    void wait(std::optional<nanoseconds> target) {
        if (pollAndServe(nanoseconds::zero()) || quitRequested.load()) {
            return;
        }
        if (!target) {
            pollAndServe(std::nullopt);
            return;
        }
        const nanoseconds now = clock.uptime();
        if (*target <= now) {
            return;
        }
        // A manual clock jumps to the deadline, unless a reply is still on its way: then the
        // loop waits for it in real time, in short steps so the deadline is looked at again.
        if (pendingIO == 0 && clock.advanceToUptime(*target)) {
            return;
        }
        pollAndServe(pendingIO == 0 ? *target - now : std::min(*target - now, kPendingIOStep));
    }
};

RunLoop::RunLoop(Clock& clock) : clock_(clock), impl_(std::make_unique<Impl>(clock)) {}

RunLoop::~RunLoop() {
    if (tCurrentLoop == this) {
        tCurrentLoop = nullptr;
    }
    detail::forgetIdleReports(impl_->passes);
    for (auto& [key, entry] : impl_->queue) {
        entry.timer->loop_ = nullptr;
        entry.timer->valid_ = false;
        entry.timer->action_ = nullptr;
    }
}

void Timer::invalidate() {
    valid_ = false;
    if (loop_ != nullptr) {
        RunLoop* loop = loop_;
        loop_ = nullptr;
        // Keeps this timer alive while the loop lets go of its reference.
        const auto self = shared_from_this();
        loop->impl_->removeTimer(id_);
    }
    action_ = nullptr;
}

RunLoop& RunLoop::currentRunLoop() {
    if (tCurrentLoop != nullptr) {
        return *tCurrentLoop;
    }
    thread_local SystemClock systemClock;
    thread_local std::unique_ptr<RunLoop> ownLoop;
    if (!ownLoop) {
        ownLoop = std::make_unique<RunLoop>(systemClock);
    }
    tCurrentLoop = ownLoop.get();
    return *ownLoop;
}

void RunLoop::makeCurrent() {
    tCurrentLoop = this;
}

void RunLoop::addTimer(const std::shared_ptr<Timer>& timer, std::string_view mode) {
    if (!timer || !timer->valid_) {
        return;
    }
    if (timer->loop_ == this) {
        auto found = impl_->keyOfTimer.find(timer->id_);
        if (found != impl_->keyOfTimer.end()) {
            auto& entry = impl_->queue.at(found->second);
            if (!entry.runsIn(mode)) {
                entry.modes.emplace_back(mode);
            }
        }
        return;
    }
    if (timer->loop_ != nullptr) {
        return; // scheduled on another loop
    }
    const nanoseconds deadline = deadlineAfter(clock_.uptime(), timer->interval_);
    const uint64_t sequence = impl_->nextSequence++;
    timer->loop_ = this;
    timer->id_ = sequence;
    const Impl::Key key{deadline, sequence};
    impl_->queue.emplace(key, Impl::Entry{timer, {std::string(mode)}});
    impl_->keyOfTimer.emplace(sequence, key);
}

uint64_t RunLoop::watchDescriptor(int fd, unsigned events,
                                  std::function<void(unsigned ready)> callback) {
    if (fd < 0 || !callback) {
        return 0;
    }
    const uint64_t handle = impl_->nextWatch++;
    impl_->watches.emplace(
        handle, Impl::Watch{fd, events & (kReadable | kWritable),
                            std::make_shared<std::function<void(unsigned)>>(std::move(callback))});
    return handle;
}

uint64_t RunLoop::watchReadable(int fd, std::function<void()> callback) {
    if (!callback) {
        return 0;
    }
    return watchDescriptor(fd, kReadable,
                           [callback = std::move(callback)](unsigned) { callback(); });
}

void RunLoop::setWatchEvents(uint64_t handle, unsigned events) {
    const auto found = impl_->watches.find(handle);
    if (found != impl_->watches.end()) {
        found->second.events = events & (kReadable | kWritable);
    }
}

void RunLoop::removeWatch(uint64_t handle) {
    impl_->watches.erase(handle);
}

RunLoop::PendingIO::PendingIO(RunLoop& loop) : loop_(&loop) {
    ++loop.impl_->pendingIO;
}

RunLoop::PendingIO::~PendingIO() {
    if (loop_ != nullptr) {
        --loop_->impl_->pendingIO;
    }
}

RunLoop::PendingIO::PendingIO(PendingIO&& other) noexcept
    : loop_(std::exchange(other.loop_, nullptr)) {}

RunLoop::PendingIO& RunLoop::PendingIO::operator=(PendingIO&& other) noexcept {
    if (this != &other) {
        if (loop_ != nullptr) {
            --loop_->impl_->pendingIO;
        }
        loop_ = std::exchange(other.loop_, nullptr);
    }
    return *this;
}

size_t RunLoop::pendingIO() const {
    return impl_->pendingIO;
}

bool RunLoop::finishPendingIO(nanoseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (impl_->pendingIO > 0) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= end) {
            return false;
        }
        impl_->fireDue(kDefaultRunLoopMode, clock_.uptime(), impl_->nextSequence, false);
        if (impl_->pendingIO == 0) {
            break;
        }
        impl_->pollAndServe(std::min<nanoseconds>(end - now, kPendingIOStep));
    }
    return true;
}

void RunLoop::run() {
    runMode(kDefaultRunLoopMode, nanoseconds::max());
}

bool RunLoop::runMode(std::string_view mode, nanoseconds limit) {
    Impl& impl = *impl_;
    const nanoseconds end = addSaturating(clock_.uptime(), limit);
    while (true) {
        impl.passes.fetch_add(1, std::memory_order_relaxed);
        if (impl.quitRequested.exchange(false)) {
            return true;
        }
        const uint64_t armedBefore = impl.nextSequence;
        impl.fireDue(mode, clock_.uptime(), armedBefore, true);
        if (impl.quitRequested.load()) {
            continue;
        }
        if (!impl.hasTimersIn(mode) && impl.watches.empty() && !impl.inboxHasWork()) {
            return false;
        }
        if (clock_.uptime() >= end) {
            return true;
        }
        std::optional<nanoseconds> target = impl.earliestIn(mode);
        if (end != nanoseconds::max()) {
            target = target ? std::min(*target, end) : end;
        }
        impl.wait(target);
    }
}

void RunLoop::quit() {
    impl_->quitRequested.store(true);
    impl_->inbox->wake();
}

std::shared_ptr<RunLoopInbox> RunLoop::inbox() const {
    return impl_->inbox;
}

void RunLoop::perform(std::function<void()> action) {
    impl_->inbox->perform(std::move(action));
}

bool RunLoopInbox::perform(std::function<void()> action) {
    if (!action) {
        return true;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (wait_ == nullptr) {
        return false;
    }
    actions_.push_back(std::move(action));
    wake();
    return true;
}

void RunLoopInbox::wake() {
    // The wait stays while the lock is held: the loop lets go of it under the same lock.
    if (wait_ != nullptr) {
        wait_->wake();
    }
}

std::optional<nanoseconds> RunLoop::nextTimeout() {
    impl_->passes.fetch_add(1, std::memory_order_relaxed);
    const auto earliest = impl_->earliestIn(kDefaultRunLoopMode);
    if (!earliest) {
        return std::nullopt;
    }
    const nanoseconds now = clock_.uptime();
    return *earliest <= now ? nanoseconds::zero() : *earliest - now;
}

void RunLoop::dispatch() {
    impl_->passes.fetch_add(1, std::memory_order_relaxed);
    const uint64_t armedBefore = impl_->nextSequence;
    impl_->fireDue(kDefaultRunLoopMode, clock_.uptime(), armedBefore, false);
    impl_->pollAndServe(nanoseconds::zero());
}

std::vector<RunLoop::Watched> RunLoop::watches() const {
    std::vector<Watched> watched;
    watched.reserve(impl_->watches.size() + 1);
    if (const int wake = impl_->events.wakeDescriptor(); wake >= 0) {
        watched.push_back({wake, kReadable});
    }
    for (const auto& [handle, watch] : impl_->watches) {
        watched.push_back({watch.fd, watch.events});
    }
    return watched;
}

std::vector<int> RunLoop::watchedDescriptors() const {
    std::vector<int> descriptors;
    for (const Watched& watch : watches()) {
        descriptors.push_back(watch.fd);
    }
    return descriptors;
}

size_t RunLoop::pendingTimers() const {
    return impl_->queue.size();
}

uint64_t RunLoop::reportIfIdle(nanoseconds grace, std::function<void()> report) {
    return detail::reportIfIdle(impl_->passes, grace, std::move(report));
}

void RunLoop::cancelIdle(uint64_t handle) {
    detail::cancelIdleReport(handle);
}

} // namespace brenvo::platform
