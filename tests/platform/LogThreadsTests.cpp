// The system log used from several threads while the host replaces its sink: every line reaches
// exactly one sink, whole. The tsan preset runs this under ThreadSanitizer.
#include "brenvo/platform/Log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using namespace brenvo::platform;

namespace {

TEST(SystemLog, SinkReplacedWhileOtherThreadsWrite) {
    constexpr int kThreads = 4;
    constexpr int kLines = 500;
    SystemLog log;
    std::atomic<int> delivered{0};
    std::atomic<int> torn{0};
    const auto sink = [&](std::string_view line) {
        delivered.fetch_add(1, std::memory_order_relaxed);
        if (!line.ends_with("] line from a worker")) {
            torn.fetch_add(1, std::memory_order_relaxed);
        }
    };
    log.setSink(sink);
    std::atomic<int> running{kThreads};
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&] {
            for (int i = 0; i < kLines; ++i) {
                log.write("line from a worker");
            }
            running.fetch_sub(1);
        });
    }
    // Each replacement is a new function object: the one being called must stay alive.
    while (running.load() > 0) {
        log.setSink([sink](std::string_view line) { sink(line); });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    EXPECT_EQ(delivered.load(), kThreads * kLines);
    EXPECT_EQ(torn.load(), 0);
}

} // namespace
