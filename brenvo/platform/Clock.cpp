#include "brenvo/platform/Clock.h"

#include <cmath>
#include <ctime>

namespace brenvo::platform {

namespace {

std::chrono::nanoseconds readClock(clockid_t id) {
    struct timespec now {};
    if (clock_gettime(id, &now) != 0) {
        clock_gettime(CLOCK_MONOTONIC, &now);
    }
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

} // namespace

bool Clock::advanceToUptime(std::chrono::nanoseconds) {
    return false;
}

Date SystemClock::date() {
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return Date{static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9};
}

std::chrono::nanoseconds SystemClock::uptime() {
    return readClock(CLOCK_BOOTTIME);
}

void ManualClock::advance(double seconds) {
    if (!(seconds > 0)) {
        return;
    }
    date_.secondsSince1970 += seconds;
    // Saturate rather than overflow for absurd amounts.
    const double nanos = std::round(seconds * 1e9);
    const auto room = std::chrono::nanoseconds::max() - uptime_;
    if (nanos >= static_cast<double>(room.count())) {
        uptime_ = std::chrono::nanoseconds::max();
    } else {
        uptime_ += std::chrono::nanoseconds(static_cast<int64_t>(nanos));
    }
}

bool ManualClock::advanceToUptime(std::chrono::nanoseconds deadline) {
    if (deadline > uptime_) {
        const auto step = deadline - uptime_;
        date_.secondsSince1970 += static_cast<double>(step.count()) / 1e9;
        uptime_ = deadline;
    }
    return true;
}

} // namespace brenvo::platform
