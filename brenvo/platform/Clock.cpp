#include "brenvo/platform/Clock.h"

#include "brenvo/platform/detail/System.h"

#include <cmath>

namespace brenvo::platform {

bool Clock::advanceToUptime(std::chrono::nanoseconds) {
    return false;
}

Date SystemClock::date() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto seconds = std::chrono::floor<std::chrono::seconds>(now);
    const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(now - seconds);
    return Date{static_cast<double>(seconds.count()) + static_cast<double>(nanos.count()) / 1e9};
}

std::chrono::nanoseconds SystemClock::uptime() {
    return detail::EventWait::uptime();
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
