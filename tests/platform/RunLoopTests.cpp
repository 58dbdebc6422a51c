// The run loop on a manual clock: order of firing, modes, invalidation, quitting, descriptor
// watches and the host-driven interface.
#include "brenvo/platform/RunLoop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace brenvo::platform;
using namespace std::chrono_literals;

namespace {

struct Loop {
    ManualClock clock;
    RunLoop loop{clock};
    std::vector<std::string> fired;

    std::shared_ptr<Timer> arm(double seconds, std::string name,
                               std::string_view mode = kDefaultRunLoopMode) {
        auto timer = Timer::timerWithTimeInterval(
            seconds, [this, name = std::move(name)] { fired.push_back(name); });
        loop.addTimer(timer, mode);
        return timer;
    }
};

TEST(RunLoop, FiresInDeadlineOrderWithTiesInArmingOrder) {
    struct Case {
        std::vector<std::pair<double, std::string>> timers;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {{{5, "a"}, {1, "b"}, {3, "c"}}, {"b", "c", "a"}},
        {{{2, "a"}, {2, "b"}, {2, "c"}}, {"a", "b", "c"}},
        {{{0, "z"}, {0, "y"}, {0.5, "x"}}, {"z", "y", "x"}},
        {{{-3, "negative"}, {0, "zero"}}, {"negative", "zero"}},
    };
    for (const Case& c : cases) {
        Loop l;
        for (const auto& [seconds, name] : c.timers) {
            l.arm(seconds, name);
        }
        EXPECT_FALSE(l.loop.runMode(kDefaultRunLoopMode, 1h));
        EXPECT_EQ(l.fired, c.expected);
        EXPECT_EQ(l.loop.pendingTimers(), 0u);
    }
}

TEST(RunLoop, ClockJumpsToEachDeadlineWithoutSleeping) {
    Loop l;
    std::vector<double> uptimes;
    for (double seconds : {86400.0, 0.25, 3600.0}) {
        l.loop.addTimer(Timer::timerWithTimeInterval(
                            seconds,
                            [&] {
                                uptimes.push_back(
                                    std::chrono::duration<double>(l.clock.uptime()).count());
                            }),
                        kDefaultRunLoopMode);
    }
    const Date start = l.clock.date();
    l.loop.run();
    EXPECT_EQ(uptimes, (std::vector<double>{0.25, 3600.0, 86400.0}));
    EXPECT_DOUBLE_EQ(l.clock.date().timeIntervalSinceDate(start), 86400.0);
}

TEST(RunLoop, ZeroDelayNeverFiresInsideAddTimerOrInTheArmingPass) {
    Loop l;
    l.arm(0, "first");
    EXPECT_TRUE(l.fired.empty());
    int passesSeen = 0;
    l.loop.addTimer(Timer::timerWithTimeInterval(0,
                                                 [&] {
                                                     l.fired.push_back("outer");
                                                     l.arm(0, "inner");
                                                     passesSeen = 1;
                                                 }),
                    kDefaultRunLoopMode);
    l.loop.dispatch();
    // "inner" was armed during the pass: it waits for the next one.
    EXPECT_EQ(l.fired, (std::vector<std::string>{"first", "outer"}));
    EXPECT_EQ(l.loop.nextTimeout(), std::optional<std::chrono::nanoseconds>(0ns));
    l.loop.dispatch();
    EXPECT_EQ(l.fired, (std::vector<std::string>{"first", "outer", "inner"}));
    EXPECT_EQ(passesSeen, 1);
    EXPECT_EQ(l.loop.nextTimeout(), std::nullopt);
}

TEST(RunLoop, InvalidateCancelsAndIsHarmlessTwiceOrAfterFiring) {
    Loop l;
    auto cancelled = l.arm(10, "cancelled");
    auto kept = l.arm(20, "kept");
    cancelled->invalidate();
    cancelled->invalidate();
    EXPECT_FALSE(cancelled->isValid());
    EXPECT_EQ(l.loop.pendingTimers(), 1u);
    l.loop.run();
    EXPECT_EQ(l.fired, std::vector<std::string>{"kept"});
    EXPECT_FALSE(kept->isValid());
    kept->invalidate();
    // Re-adding a fired or cancelled timer does nothing.
    l.loop.addTimer(kept, kDefaultRunLoopMode);
    l.loop.addTimer(cancelled, kDefaultRunLoopMode);
    EXPECT_EQ(l.loop.pendingTimers(), 0u);
}

// A callback may cancel itself and a timer due in the same pass.
TEST(RunLoop, TimerMayInvalidateItselfAndOthersWhileFiring) {
    Loop l;
    std::shared_ptr<Timer> victim;
    std::shared_ptr<Timer> killer = Timer::timerWithTimeInterval(1, [&] {
        l.fired.push_back("killer");
        killer->invalidate();
        victim->invalidate();
    });
    l.loop.addTimer(killer, kDefaultRunLoopMode);
    victim = l.arm(1, "victim");
    l.loop.run();
    EXPECT_EQ(l.fired, std::vector<std::string>{"killer"});
}

TEST(RunLoop, TimersFireOnlyInTheirModes) {
    Loop l;
    l.arm(1, "default");
    auto both = l.arm(2, "both");
    l.loop.addTimer(both, "modal");
    l.arm(3, "modal", "modal");
    // The modal run sees only timers of its mode; the default one waits.
    EXPECT_FALSE(l.loop.runMode("modal", 1h));
    EXPECT_EQ(l.fired, (std::vector<std::string>{"both", "modal"}));
    EXPECT_EQ(l.loop.pendingTimers(), 1u);
    l.loop.run();
    EXPECT_EQ(l.fired, (std::vector<std::string>{"both", "modal", "default"}));
}

TEST(RunLoop, RunModeStopsAtItsLimitAndFiresWhatIsDueAtIt) {
    struct Case {
        double timer;
        std::chrono::nanoseconds limit;
        bool fires;
    };
    const Case cases[] = {
        {10, 10s, true}, {10, 9s, false}, {0, 0s, true}, {86400, 24h, true}, {86400.5, 24h, false}};
    for (const Case& c : cases) {
        Loop l;
        l.arm(c.timer, "t");
        // Once the only timer has fired nothing is left, which ends the run as well.
        EXPECT_EQ(l.loop.runMode(kDefaultRunLoopMode, c.limit), !c.fires) << c.timer;
        EXPECT_EQ(l.fired.size(), c.fires ? 1u : 0u) << c.timer;
        EXPECT_EQ(l.clock.uptime(),
                  c.fires ? std::chrono::nanoseconds(std::llround(c.timer * 1e9)) : c.limit)
            << c.timer;
    }
}

TEST(RunLoop, HugeDelaysAreClampedAndNeverWrap) {
    for (double seconds : {1e300, 1e19, 9.3e9, std::numeric_limits<double>::infinity()}) {
        Loop l;
        l.arm(seconds, "far");
        l.arm(1, "near");
        EXPECT_TRUE(l.loop.runMode(kDefaultRunLoopMode, 1000h));
        EXPECT_EQ(l.fired, std::vector<std::string>{"near"}) << seconds;
        const auto timeout = l.loop.nextTimeout();
        ASSERT_TRUE(timeout.has_value());
        EXPECT_GT(*timeout, 1000h);
    }
    Loop nan;
    nan.arm(std::numeric_limits<double>::quiet_NaN(), "nan");
    nan.loop.dispatch();
    EXPECT_EQ(nan.fired, std::vector<std::string>{"nan"});
}

TEST(RunLoop, QuitEndsTheInnermostRunAfterTheCurrentCallback) {
    Loop l;
    std::vector<std::string> order;
    l.loop.addTimer(Timer::timerWithTimeInterval(1,
                                                 [&] {
                                                     order.push_back("outer begins");
                                                     l.loop.addTimer(Timer::timerWithTimeInterval(
                                                                         1,
                                                                         [&] {
                                                                             order.push_back(
                                                                                 "inner");
                                                                             l.loop.quit();
                                                                         }),
                                                                     "modal");
                                                     EXPECT_TRUE(l.loop.runMode("modal", 1h));
                                                     order.push_back("outer ends");
                                                 }),
                    kDefaultRunLoopMode);
    l.arm(1, "same deadline");
    l.arm(5, "later");
    l.loop.run();
    EXPECT_EQ(order, (std::vector<std::string>{"outer begins", "inner", "outer ends"}));
    EXPECT_EQ(l.fired, (std::vector<std::string>{"same deadline", "later"}));

    // A quit() in a callback leaves the rest of the pass for the next run.
    Loop q;
    q.loop.addTimer(Timer::timerWithTimeInterval(1, [&] { q.loop.quit(); }), kDefaultRunLoopMode);
    q.arm(1, "after quit");
    EXPECT_TRUE(q.loop.runMode(kDefaultRunLoopMode, 1h));
    EXPECT_TRUE(q.fired.empty());
    EXPECT_FALSE(q.loop.runMode(kDefaultRunLoopMode, 1h));
    EXPECT_EQ(q.fired, std::vector<std::string>{"after quit"});
}

TEST(RunLoop, WatchesRunOnReadableDescriptorsAndQuitWakesFromAnotherThread) {
    Loop l;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::string received;
    uint64_t watch = l.loop.watchReadable(fds[0], [&] {
        char buffer[16];
        const ssize_t got = read(fds[0], buffer, sizeof buffer);
        if (got > 0) {
            received.append(buffer, static_cast<size_t>(got));
        }
        if (received == "ping") {
            l.loop.quit();
        }
    });
    ASSERT_NE(watch, 0u);
    ASSERT_EQ(write(fds[1], "ping", 4), 4);
    // The data is already there: the loop serves it before jumping to the far timer.
    l.arm(3600, "far");
    EXPECT_TRUE(l.loop.runMode(kDefaultRunLoopMode, 2h));
    EXPECT_EQ(received, "ping");
    EXPECT_EQ(l.clock.uptime(), 0ns);
    l.loop.removeWatch(watch);

    // A descriptor closed under its watch is reported once, then dropped: the loop ends.
    int other[2];
    ASSERT_EQ(pipe(other), 0);
    int reports = 0;
    l.loop.watchReadable(other[0], [&] { ++reports; });
    close(other[0]);
    close(other[1]);
    EXPECT_FALSE(l.loop.runMode(kDefaultRunLoopMode, 1h));
    EXPECT_EQ(reports, 1);

    // With no timer at all the loop blocks in poll until quit() arrives from another thread.
    SystemClock system;
    RunLoop real(system);
    const uint64_t blocker = real.watchReadable(fds[0], [] {});
    std::thread stopper([&] { real.quit(); });
    EXPECT_TRUE(real.runMode(kDefaultRunLoopMode, std::chrono::nanoseconds::max()));
    stopper.join();
    real.removeWatch(blocker);
    close(fds[0]);
    close(fds[1]);
}

// Work handed over from other threads runs on the loop's thread, in the order it came: it wakes
// a loop asleep with no deadline, and a host loop that polls the loop's descriptors. Once the
// loop is gone its inbox refuses work.
TEST(RunLoop, InboxRunsWorkFromOtherThreadsOnTheLoopsThread) {
    SystemClock clock;
    std::shared_ptr<RunLoopInbox> inbox;
    std::vector<int> order;
    {
        RunLoop loop(clock);
        inbox = loop.inbox();
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        loop.watchReadable(fds[0], [] {}); // never readable: only the inbox wakes the loop
        std::thread sender([&] {
            for (int i = 0; i < 3; ++i)
                EXPECT_TRUE(inbox->perform([&, i, sender = std::this_thread::get_id()] {
                    EXPECT_NE(std::this_thread::get_id(), sender);
                    order.push_back(i);
                    if (i == 2)
                        loop.quit();
                }));
        });
        EXPECT_TRUE(loop.runMode(kDefaultRunLoopMode, std::chrono::nanoseconds::max()));
        sender.join();
        EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));

        // A host loop polls what the loop watches, the wake-up descriptor first.
        std::thread([&] { inbox->perform([&] { order.push_back(3); }); }).join();
        pollfd wake{loop.watchedDescriptors().front(), POLLIN, 0};
        EXPECT_EQ(poll(&wake, 1, 0), 1);
        loop.dispatch();
        EXPECT_EQ(order.back(), 3);
        close(fds[0]);
        close(fds[1]);
    }
    EXPECT_FALSE(inbox->perform([] { ADD_FAILURE() << "ran after its loop was gone"; }));
}

// Handing work over never blocks the sender, however much comes before the loop looks; one pass
// runs all of it, in order, and leaves the wake-up descriptor quiet for the host loops that poll
// it.
TEST(RunLoop, InboxTakesAnyAmountOfWorkBeforeTheLoopLooks) {
    Loop l;
    constexpr int kActions = 100'000;
    std::vector<int> order;
    const auto inbox = l.loop.inbox();
    std::thread([&] {
        for (int i = 0; i < kActions; ++i)
            inbox->perform([&order, i] { order.push_back(i); });
    }).join();
    l.loop.dispatch();
    ASSERT_EQ(order.size(), size_t{kActions});
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    pollfd wake{l.loop.watchedDescriptors().front(), POLLIN, 0};
    EXPECT_EQ(poll(&wake, 1, 0), 0);
}

TEST(RunLoop, RealClockSleepsUntilTheDeadline) {
    SystemClock system;
    RunLoop loop(system);
    bool fired = false;
    const auto start = system.uptime();
    loop.addTimer(Timer::timerWithTimeInterval(0.05, [&] { fired = true; }), kDefaultRunLoopMode);
    EXPECT_FALSE(loop.runMode(kDefaultRunLoopMode, 10s));
    EXPECT_TRUE(fired);
    EXPECT_GE(system.uptime() - start, 50ms);
}

TEST(RunLoop, CurrentLoopIsPerThreadAndFollowsMakeCurrent) {
    RunLoop& implicit = RunLoop::currentRunLoop();
    EXPECT_EQ(&implicit, &RunLoop::currentRunLoop());
    RunLoop* other = nullptr;
    std::thread([&] { other = &RunLoop::currentRunLoop(); }).join();
    EXPECT_NE(other, &implicit);
    {
        ManualClock clock;
        RunLoop mine(clock);
        mine.makeCurrent();
        EXPECT_EQ(&RunLoop::currentRunLoop(), &mine);
    }
    // The destroyed loop is no longer current.
    EXPECT_EQ(&RunLoop::currentRunLoop(), &implicit);
}

TEST(RunLoop, TimersOutliveTheirLoopSafely) {
    std::shared_ptr<Timer> timer;
    {
        Loop l;
        timer = l.arm(10, "never");
    }
    EXPECT_FALSE(timer->isValid());
    timer->invalidate();
}

// A loop that nobody runs is reported once its grace has passed; a loop that made a pass, or a
// cancelled report, never is. Reports come in the order of their deadlines, so the last one
// arriving shows the earlier ones were decided.
TEST(RunLoop, ReportsALoopNobodyRuns) {
    ManualClock clock;
    RunLoop run(clock), idle(clock), cancelled(clock);
    std::mutex mutex;
    std::condition_variable reported;
    std::vector<std::string> reports;
    auto note = [&](const std::string& what) {
        return [&, what] {
            std::lock_guard<std::mutex> lock(mutex);
            reports.push_back(what);
            reported.notify_all();
        };
    };
    run.reportIfIdle(20ms, note("run"));
    const uint64_t dropped = cancelled.reportIfIdle(25ms, note("cancelled"));
    idle.reportIfIdle(30ms, note("idle"));
    run.dispatch();
    RunLoop::cancelIdle(dropped);
    std::unique_lock<std::mutex> lock(mutex);
    EXPECT_TRUE(reported.wait_for(lock, 10s, [&] { return !reports.empty(); }));
    EXPECT_EQ(reports, std::vector<std::string>{"idle"});
}

} // namespace
