// Time sources: the wall clock (for dates stored in the defaults) and a suspend-aware
// monotonic clock (for run-loop deadlines, so a one-day timer on a laptop that slept still fires
// one day after it was armed).
#pragma once

#include "brenvo/Export.h"
#include "brenvo/platform/PropertyList.h"

#include <chrono>
#include <span>

namespace brenvo::platform {

class BRENVO_EXPORT Clock {
public:
    virtual ~Clock();

    // The current wall-clock date.
    virtual Date date() = 0;
    // Time since an arbitrary origin, counting time the machine was suspended.
    virtual std::chrono::nanoseconds uptime() = 0;

    // Asked by a run loop that has nothing to do until `deadline` (an uptime()). A clock that
    // moves only when told to jumps there and returns true, so the loop never sleeps; a real
    // clock returns false and the loop sleeps until the deadline.
    virtual bool advanceToUptime(std::chrono::nanoseconds deadline);
};

// The machine's clocks: the system's wall clock, and for uptime the clock the run loop's wait
// counts in (on Linux CLOCK_BOOTTIME, which counts suspended time; with the portable POSIX wait
// CLOCK_MONOTONIC).
class BRENVO_EXPORT SystemClock final : public Clock {
public:
    Date date() override;
    std::chrono::nanoseconds uptime() override;
};

// A clock that moves only when told to; a run loop on it never sleeps but jumps to its next
// deadline. For tests and simulations.
class BRENVO_EXPORT ManualClock final : public Clock {
public:
    explicit ManualClock(Date start = Date{1'800'000'000.0}) : date_(start) {}

    Date date() override { return date_; }
    std::chrono::nanoseconds uptime() override { return uptime_; }

    // Moves both clocks forward by `seconds` (nothing happens for a negative or NaN amount).
    void advance(double seconds);
    // Sets the wall clock alone, as when the user changes the date; uptime is unchanged.
    void setDate(Date date) { date_ = date; }

    // Moves both clocks forward to `deadline` when it lies ahead; always true.
    bool advanceToUptime(std::chrono::nanoseconds deadline) override;

private:
    Date date_;
    std::chrono::nanoseconds uptime_{0};
};

} // namespace brenvo::platform
