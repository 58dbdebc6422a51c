// Reports run loops that nobody runs: one thread for the whole process, started with the first
// report, that calls a report when its loop's pass count has not moved within the grace time.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

namespace brenvo::detail {

// Calls `report` once, on the watchdog's thread, unless `passes` moves within `grace` from now.
// Returns a handle for cancelIdleReport(). `passes` must outlive the report or be forgotten.
uint64_t reportIfIdle(const std::atomic<uint64_t>& passes, std::chrono::nanoseconds grace,
                      std::function<void()> report);
// Cancels a report; when it is running, waits for it to end. Safe from any thread.
void cancelIdleReport(uint64_t handle);
// Cancels every report that watches `passes`, for a loop that goes away.
void forgetIdleReports(const std::atomic<uint64_t>& passes);

} // namespace brenvo::detail
