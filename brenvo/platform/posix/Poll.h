// poll() for the run loop's waits on POSIX systems: over the wait's wake-up descriptor, the
// loop's descriptors and any of the wait's own, reporting in the run loop's terms.
#pragma once

#include "brenvo/platform/RunLoop.h"
#include "brenvo/platform/detail/System.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <poll.h>
#include <span>
#include <unistd.h>
#include <vector>

namespace brenvo::detail {

// Reads everything a non-blocking wake-up or timer descriptor holds.
inline void drainDescriptor(int fd) {
    uint64_t count = 0;
    while (::read(fd, &count, sizeof count) > 0) {
    }
}

// poll()'s timeout for a positive `timeout`: whole milliseconds, rounded up so the wait never
// ends before it, at most INT_MAX.
inline int pollMilliseconds(std::chrono::nanoseconds timeout) {
    const auto millis = (timeout.count() + 999'999) / 1'000'000;
    return static_cast<int>(std::min<int64_t>(millis, INT_MAX));
}

class PollItems {
public:
    // Polls `wake` (when not -1) for readability and `items` for what they want.
    PollItems(int wake, std::span<EventWait::Item> items) : items_(items) {
        fds_.reserve(items.size() + 2);
        if (wake >= 0) {
            fds_.push_back({wake, POLLIN, 0});
        }
        firstItem_ = fds_.size();
        for (const EventWait::Item& item : items) {
            const short wanted = static_cast<short>(
                ((item.events & platform::RunLoop::kReadable) != 0 ? POLLIN : 0) |
                ((item.events & platform::RunLoop::kWritable) != 0 ? POLLOUT : 0));
            fds_.push_back({item.fd, wanted, 0});
        }
    }

    // Polls `fd` for readability too, without reporting it.
    void add(int fd) { fds_.push_back({fd, POLLIN, 0}); }

    // Polls for at most `timeout` milliseconds (-1: without limit), drains the wake-up
    // descriptor when it is ready and fills in the items' `ready` and `closed`.
    EventWait::Result poll(int timeout) {
        const int ready = ::poll(fds_.data(), fds_.size(), timeout);
        if (ready <= 0) {
            return {false, false};
        }
        const bool woken = firstItem_ > 0 && (fds_[0].revents & POLLIN) != 0;
        if (woken) {
            drainDescriptor(fds_[0].fd);
        }
        for (size_t i = 0; i < items_.size(); ++i) {
            const short revents = fds_[firstItem_ + i].revents;
            items_[i].closed = (revents & POLLNVAL) != 0;
            items_[i].ready =
                ((revents & POLLIN) != 0 ? platform::RunLoop::kReadable : 0) |
                ((revents & POLLOUT) != 0 ? platform::RunLoop::kWritable : 0) |
                ((revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 ? platform::RunLoop::kError : 0);
        }
        return {true, woken};
    }

private:
    std::vector<pollfd> fds_;
    std::span<EventWait::Item> items_;
    size_t firstItem_ = 0;
};

} // namespace brenvo::detail
