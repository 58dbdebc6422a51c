// The run loop's wait for any POSIX system: poll() on the watched descriptors with the deadline
// as its timeout, and a self-pipe for wake-ups. poll() counts its timeout on the monotonic clock,
// so uptime() reads that clock too.
#include "brenvo/platform/detail/System.h"
#include "brenvo/platform/posix/Poll.h"

#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace brenvo::detail {

namespace {

// Both ends non-blocking and closed on exec; -1, -1 when the system refuses.
void openPipe(int (&ends)[2]) {
    if (::pipe(ends) != 0) {
        ends[0] = ends[1] = -1;
        return;
    }
    for (const int end : ends) {
        ::fcntl(end, F_SETFD, FD_CLOEXEC);
        ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
    }
}

} // namespace

struct EventWait::Handles {
    int pipe[2] = {-1, -1}; // read end, write end
};

EventWait::EventWait() : handles_(std::make_unique<Handles>()) {
    openPipe(handles_->pipe);
}

EventWait::~EventWait() {
    for (const int end : handles_->pipe) {
        if (end >= 0) {
            ::close(end);
        }
    }
}

int EventWait::wakeDescriptor() const {
    return handles_->pipe[0];
}

void EventWait::wake() {
    // A full pipe is readable already: a write that fails then loses nothing.
    if (handles_->pipe[1] >= 0) {
        const char one = 1;
        [[maybe_unused]] const ssize_t written = ::write(handles_->pipe[1], &one, sizeof one);
    }
}

EventWait::Result EventWait::wait(std::span<Item> items,
                                  std::optional<std::chrono::nanoseconds> timeout) {
    int pollTimeout = -1;
    if (timeout) {
        pollTimeout = *timeout <= std::chrono::nanoseconds::zero() ? 0 : pollMilliseconds(*timeout);
    }
    return PollItems(handles_->pipe[0], items).poll(pollTimeout);
}

std::chrono::nanoseconds EventWait::uptime() {
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

} // namespace brenvo::detail
