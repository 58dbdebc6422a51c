// The run loop: one-shot timers and file-descriptor watches served on one thread.
//
//   auto timer = Timer::timerWithTimeInterval(5.0, [] { check(); });
//   RunLoop::currentRunLoop().addTimer(timer, kDefaultRunLoopMode);
//   RunLoop::currentRunLoop().run();
//
// Deadlines follow the clock's uptime(), which counts suspended time where the system's clock
// can (SystemClock). A timer of delay 0 fires on the loop's next pass, never inside addTimer().
// Between deadlines the loop sleeps: it makes no wake-ups of its own.
//
// A loop belongs to the thread that runs it. Other threads reach it only through quit() and its
// inbox, which hands it work to run on its own thread:
//
//   auto inbox = RunLoop::currentRunLoop().inbox();       // on the loop's thread
//   std::thread([inbox] { inbox->perform([] { done(); }); }).detach();
#pragma once

#include "brenvo/Export.h"
#include "brenvo/platform/Clock.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brenvo::detail {
class EventWait;
}

namespace brenvo::platform {

inline constexpr std::string_view kDefaultRunLoopMode = "kCFRunLoopDefaultMode";

class RunLoop;

// Hands work to one run loop from any thread. It may be kept longer than its loop: once the loop
// is gone, perform() drops the work and returns false.
class BRENVO_EXPORT RunLoopInbox {
public:
    // Queues `action` to run on the loop's thread during its next pass, whatever mode it runs in,
    // after the actions queued before it, and wakes the loop (or the GLib or Qt loop that drives
    // it). False when the loop is gone; the action is then destroyed on the calling thread.
    bool perform(std::function<void()> action);

private:
    friend class RunLoop;
    explicit RunLoopInbox(detail::EventWait* wait) : wait_(wait) {}
    void wake();
    std::mutex mutex_;
    std::vector<std::function<void()>> actions_;
    detail::EventWait* wait_; // the loop's, nullptr once the loop is gone
};

// A one-shot timer. The run loop holds scheduled timers; callers keep a handle to cancel them.
// invalidate() on a timer that has fired or was cancelled does nothing.
class BRENVO_EXPORT Timer : public std::enable_shared_from_this<Timer> {
public:
    static std::shared_ptr<Timer> timerWithTimeInterval(double seconds,
                                                        std::function<void()> action);

    void invalidate();
    bool isValid() const { return valid_; }
    double timeInterval() const { return interval_; }

    Timer(double seconds, std::function<void()> action);

private:
    friend class RunLoop;
    double interval_;
    std::function<void()> action_;
    bool valid_ = true;
    RunLoop* loop_ = nullptr;
    uint64_t id_ = 0;
};

class BRENVO_EXPORT RunLoop {
public:
    explicit RunLoop(Clock& clock);
    ~RunLoop();
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    // The loop of the calling thread: the one made current with makeCurrent(), else one on the
    // system clock created on first use.
    static RunLoop& currentRunLoop();
    // Makes this loop the current loop of the calling thread.
    void makeCurrent();

    Clock& clock() { return clock_; }

    // Schedules `timer` to fire once, `timer->timeInterval()` seconds from now, while the loop
    // runs in `mode`. Delays beyond the clock's range are clamped to the far future.
    void addTimer(const std::shared_ptr<Timer>& timer, std::string_view mode);

    // What a descriptor watch waits for, and what a ready descriptor reports.
    static constexpr unsigned kReadable = 1;
    static constexpr unsigned kWritable = 2;
    static constexpr unsigned kError = 4; // reported only: error or hang-up

    // Calls `callback` on the loop with what is ready whenever `fd` is ready for one of `events`
    // (kReadable, kWritable or both), or has an error or hung up, until the watch is removed. A
    // descriptor closed under its watch is reported once (kError) and dropped. Returns a handle
    // for setWatchEvents() and removeWatch() (0 for a negative descriptor or an empty callback).
    uint64_t watchDescriptor(int fd, unsigned events, std::function<void(unsigned ready)> callback);
    // The same for readability alone.
    uint64_t watchReadable(int fd, std::function<void()> callback);
    // Changes what a watch waits for; 0 pauses it.
    void setWatchEvents(uint64_t handle, unsigned events);
    void removeWatch(uint64_t handle);

    // Network work in flight on this loop's descriptors. While one is held, the loop does not
    // move a manual clock on to its next deadline but waits for its descriptors in real time,
    // so a reply that is still on its way is never overtaken by a simulated day. On the system
    // clock it changes nothing but a wake-up every 100 ms while the work lasts. Drop the hold
    // before the loop goes.
    class BRENVO_EXPORT PendingIO {
    public:
        PendingIO() = default;
        explicit PendingIO(RunLoop& loop);
        ~PendingIO();
        PendingIO(PendingIO&& other) noexcept;
        PendingIO& operator=(PendingIO&& other) noexcept;
        PendingIO(const PendingIO&) = delete;
        PendingIO& operator=(const PendingIO&) = delete;

    private:
        RunLoop* loop_ = nullptr;
    };
    size_t pendingIO() const;
    // Runs due timers and serves descriptors until no I/O is pending or `limit` of real time
    // has passed; never moves a manual clock. True when no I/O is left pending.
    bool finishPendingIO(std::chrono::nanoseconds limit);

    // Runs in the default mode until quit() is called or nothing is left to wait for.
    void run();
    // Runs in `mode` until quit(), until `limit` of uptime has passed, or until nothing is left to
    // wait for. Returns false when it stopped because nothing was left.
    bool runMode(std::string_view mode, std::chrono::nanoseconds limit);
    // Makes the innermost run()/runMode() return after the current callback. When no run is in
    // progress, the next one returns at once. Safe from any thread.
    void quit();

    // The loop's inbox, for work handed over from other threads; see RunLoopInbox.
    std::shared_ptr<RunLoopInbox> inbox() const;
    // The same as inbox()->perform(action), for a caller that knows the loop is alive.
    void perform(std::function<void()> action);

    // For hosts that drive the loop from their own main loop (see platform/glib): the time until
    // the next deadline (zero when something is due, nullopt when no timer is pending), and one
    // pass that runs everything due now.
    std::optional<std::chrono::nanoseconds> nextTimeout();
    void dispatch();

    // The descriptors currently watched, so a host loop can wake when one becomes ready and then
    // call dispatch(), which serves them. The first is always the loop's own wake-up descriptor,
    // through which its inbox and quit() reach it from other threads.
    struct Watched {
        int fd;
        unsigned events; // kReadable, kWritable or both; 0 for a paused watch
    };
    std::vector<Watched> watches() const;
    // The same, descriptors only.
    std::vector<int> watchedDescriptors() const;

    // Number of pending (valid, scheduled) timers.
    size_t pendingTimers() const;

    // Calls `report` once, from a watchdog thread of its own, when the loop makes no pass at all
    // (run, runMode, dispatch, nextTimeout) within `grace` from now: for a debug line that says
    // why nothing happens when a host forgot to run the loop. Returns a handle for cancelIdle();
    // cancel before the loop, or anything `report` touches, goes. `report` must be safe on
    // another thread.
    uint64_t reportIfIdle(std::chrono::nanoseconds grace, std::function<void()> report);
    // Cancels a report; when it is running, waits for it to end. Safe from any thread.
    static void cancelIdle(uint64_t handle);

private:
    struct Impl;
    friend class Timer;
    Clock& clock_;
    std::unique_ptr<Impl> impl_;
};

} // namespace brenvo::platform
