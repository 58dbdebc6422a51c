// A name server that never answers, for the name lookups of one thread.
//
//   const std::string why = brenvo::test::runWithSilentNameServer(3, [&] {
//       client.startRequest({"http://store.invalid/"}, loop, done);   // its lookup hangs 3 s
//       ...
//   });
//   if (!why.empty()) GTEST_SKIP() << why;
#pragma once

#include "brenvo/platform/RunLoop.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace brenvo::test {

// Runs `scenario` on a thread of its own in a private mount namespace whose /etc/resolv.conf
// names a UDP socket that reads nothing (and whose /etc/nsswitch.conf sends host names there), so
// every lookup of a name that /etc/hosts lacks, on that thread and on the threads it starts,
// waits until the system's resolver gives up after `giveUpSeconds` (1 to 30). Returns an empty
// text when the scenario ran, else why it could not (making the namespace needs root).
std::string runWithSilentNameServer(int giveUpSeconds, const std::function<void()>& scenario);

// The process's threads and open descriptors now.
size_t threadCount();
size_t descriptorCount();
// Polls `done` every 10 ms until it holds or `limit` has passed; its last answer.
bool eventually(std::chrono::milliseconds limit, const std::function<bool()>& done);

// A timer that fires every `period` on `loop` while the object lives and keeps the longest time
// between two of its ticks: how long the loop was kept from serving it, plus the period.
class LoopTicker {
public:
    explicit LoopTicker(platform::RunLoop& loop,
                        std::chrono::milliseconds period = std::chrono::milliseconds(10));
    ~LoopTicker();
    LoopTicker(const LoopTicker&) = delete;
    LoopTicker& operator=(const LoopTicker&) = delete;

    // The longest gap so far, the time since the last tick included: ask right after the loop
    // ran.
    std::chrono::milliseconds longestGap() const;

private:
    void tick();
    platform::RunLoop& loop_;
    double period_;
    std::shared_ptr<platform::Timer> timer_;
    std::chrono::steady_clock::time_point last_;
    std::chrono::steady_clock::duration longest_{};
};

} // namespace brenvo::test
