// The run loop's wait on Linux: poll() on the watched descriptors, an eventfd for wake-ups and a
// timerfd on CLOCK_BOOTTIME for the deadline, so that time the machine spends suspended counts
// towards it, as it does towards uptime().
#include "brenvo/platform/RunLoop.h"
#include "brenvo/platform/detail/System.h"
#include "brenvo/platform/posix/Poll.h"

#include <climits>
#include <ctime>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace brenvo::detail {

struct EventWait::Handles {
    int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    int timer = timerfd_create(CLOCK_BOOTTIME, TFD_CLOEXEC | TFD_NONBLOCK);
};

EventWait::EventWait() : handles_(std::make_unique<Handles>()) {}

EventWait::~EventWait() {
    if (handles_->timer >= 0) {
        ::close(handles_->timer);
    }
    if (handles_->wake >= 0) {
        ::close(handles_->wake);
    }
}

int EventWait::wakeDescriptor() const {
    return handles_->wake;
}

void EventWait::wake() {
    if (handles_->wake >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(handles_->wake, &one, sizeof one);
    }
}

EventWait::Result EventWait::wait(std::span<Item> items,
                                  std::optional<std::chrono::nanoseconds> timeout) {
    PollItems polled(handles_->wake, items);
    int pollTimeout = -1;
    bool usingTimer = false;
    if (timeout) {
        if (*timeout <= std::chrono::nanoseconds::zero()) {
            pollTimeout = 0;
        } else if (handles_->timer >= 0) {
            struct itimerspec due {};
            const auto total = timeout->count();
            due.it_value.tv_sec = static_cast<time_t>(total / 1'000'000'000);
            due.it_value.tv_nsec = static_cast<long>(total % 1'000'000'000);
            if (timerfd_settime(handles_->timer, 0, &due, nullptr) == 0) {
                usingTimer = true;
                polled.add(handles_->timer);
            }
        }
        if (*timeout > std::chrono::nanoseconds::zero() && !usingTimer) {
            pollTimeout = pollMilliseconds(*timeout);
        }
    }
    const Result result = polled.poll(pollTimeout);
    if (usingTimer) {
        const struct itimerspec off {};
        timerfd_settime(handles_->timer, 0, &off, nullptr);
        drainDescriptor(handles_->timer);
    }
    return result;
}

std::chrono::nanoseconds EventWait::uptime() {
    struct timespec now {};
    if (clock_gettime(CLOCK_BOOTTIME, &now) != 0) {
        clock_gettime(CLOCK_MONOTONIC, &now);
    }
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

} // namespace brenvo::detail
