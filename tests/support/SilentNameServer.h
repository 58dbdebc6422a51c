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
#include <string>

namespace brenvo::test {

// Runs `scenario` on a thread of its own in a private mount namespace whose /etc/resolv.conf
// names a UDP socket that reads nothing (and whose /etc/nsswitch.conf sends host names there), so
// every lookup of a name that /etc/hosts lacks, on that thread and on the threads it starts,
// waits until the system's resolver gives up after `giveUpSeconds` (1 to 30). Returns an empty
// text when the scenario ran, else why it could not (making the namespace needs root).
std::string runWithSilentNameServer(int giveUpSeconds, const std::function<void()>& scenario);

// The process's threads and open descriptors.
struct ProcessCounts {
    size_t threads;
    size_t descriptors;
};
ProcessCounts processCounts();
// Waits up to `limit` until the process has no more threads and descriptors than `before`.
bool backTo(const ProcessCounts& before, std::chrono::milliseconds limit);

// Runs `loop` (runMode) for at most `limit`, or until quit(), with a timer firing on it every
// 10 ms, and gives the longest time between two of its ticks, the end of the run included.
std::chrono::milliseconds longestTickGap(platform::RunLoop& loop, std::chrono::nanoseconds limit);

} // namespace brenvo::test
