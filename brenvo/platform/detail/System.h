// What the platform library takes from the system it runs on: the run loop's wait and the clock
// it counts in, and the log line's origin and destinations. Each system's folder implements
// these (brenvo/platform/linux/); the wait comes from the folder that BRENVO_EVENT_LOOP names
// (linux: timerfd and eventfd; posix: poll and a self-pipe, for any POSIX system).
#pragma once

#include <chrono>
#include <ctime>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace brenvo::detail {

// The wait of one run loop: for its descriptors, its next deadline and wake-ups from other
// threads. It belongs to the loop's thread, but for wake().
class EventWait {
public:
    // A descriptor to wait for. `events` is what the loop wants (RunLoop::kReadable, kWritable);
    // wait() sets `ready` to what is ready (RunLoop::kError too, for an error or hang-up) and
    // `closed` when the descriptor is not open.
    struct Item {
        int fd;
        unsigned events;
        unsigned ready = 0;
        bool closed = false;
    };

    struct Result {
        bool anyReady; // a descriptor or the wake-up
        bool woken;    // by wake(), which the wait has now consumed
    };

    EventWait();
    ~EventWait();
    EventWait(const EventWait&) = delete;
    EventWait& operator=(const EventWait&) = delete;

    // Readable from wake() until a wait() reports the wake-up, so that a host loop that watches
    // it learns of wake-ups too; -1 when the system refused one (wake() then does nothing).
    int wakeDescriptor() const;
    // Ends a wait() in progress, or the next one at once. Safe from any thread.
    void wake();

    // Waits until one of `items` or the wake-up is ready, or `timeout` has passed (nullopt:
    // without limit; zero or less: only looks), and says what was ready.
    Result wait(std::span<Item> items, std::optional<std::chrono::nanoseconds> timeout);

    // The clock the wait's timeouts pass on, from an arbitrary origin: SystemClock::uptime().
    static std::chrono::nanoseconds uptime();

private:
    struct Handles;
    std::unique_ptr<Handles> handles_;
};

// The local calendar time of `seconds` since 1970.
std::tm localTime(std::time_t seconds);
// The name and id of this process, as log lines show them ("unknown" when it has no name).
std::string processName();
long processId();
// Writes one finished line (without line feed) to the system's log destinations, with `message`
// (the line's text alone, printable) where a destination stamps lines itself. Safe from any
// thread; lines of several threads never interleave.
void writeSystemLog(std::string_view line, const std::string& message);

} // namespace brenvo::detail
