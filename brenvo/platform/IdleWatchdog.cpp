#include "brenvo/platform/detail/IdleWatchdog.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace brenvo::detail {

namespace {

// Reports run with the lock held, so cancelIdleReport() returning means none is running.
struct IdleWatchdog {
    struct Entry {
        std::chrono::steady_clock::time_point due;
        const std::atomic<uint64_t>* passes;
        uint64_t passesThen;
        std::function<void()> report;
    };
    std::mutex mutex;
    std::condition_variable changed;
    std::map<uint64_t, Entry> entries;
    uint64_t next = 1;
    bool started = false;

    // Never destroyed: its thread runs until the process ends.
    static IdleWatchdog& instance() {
        static auto* const watchdog = new IdleWatchdog();
        return *watchdog;
    }

    void run() {
        std::unique_lock<std::mutex> lock(mutex);
        while (true) {
            if (entries.empty()) {
                changed.wait(lock);
                continue;
            }
            auto soonest = entries.begin();
            for (auto it = entries.begin(); it != entries.end(); ++it)
                if (it->second.due < soonest->second.due)
                    soonest = it;
            // A copy: the entry may go while the thread waits.
            const auto due = soonest->second.due;
            if (std::chrono::steady_clock::now() < due) {
                changed.wait_until(lock, due);
                continue;
            }
            Entry entry = std::move(soonest->second);
            entries.erase(soonest);
            if (entry.passes->load(std::memory_order_relaxed) == entry.passesThen && entry.report)
                entry.report();
        }
    }
};

} // namespace

uint64_t reportIfIdle(const std::atomic<uint64_t>& passes, std::chrono::nanoseconds grace,
                      std::function<void()> report) {
    IdleWatchdog& watchdog = IdleWatchdog::instance();
    std::lock_guard<std::mutex> lock(watchdog.mutex);
    if (!watchdog.started) {
        watchdog.started = true;
        std::thread([&watchdog] { watchdog.run(); }).detach();
    }
    const uint64_t handle = watchdog.next++;
    watchdog.entries.emplace(
        handle, IdleWatchdog::Entry{
                    std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(grace),
                    &passes, passes.load(), std::move(report)});
    watchdog.changed.notify_all();
    return handle;
}

void cancelIdleReport(uint64_t handle) {
    IdleWatchdog& watchdog = IdleWatchdog::instance();
    std::lock_guard<std::mutex> lock(watchdog.mutex);
    watchdog.entries.erase(handle);
}

void forgetIdleReports(const std::atomic<uint64_t>& passes) {
    IdleWatchdog& watchdog = IdleWatchdog::instance();
    std::lock_guard<std::mutex> lock(watchdog.mutex);
    std::erase_if(watchdog.entries,
                  [&passes](const auto& entry) { return entry.second.passes == &passes; });
}

} // namespace brenvo::detail
