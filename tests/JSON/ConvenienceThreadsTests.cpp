// The JSON convenience entry points called from many threads at once, some of them failing and
// logging while the log handler is being replaced. The tsan preset runs this under
// ThreadSanitizer; elsewhere it checks that no result and no log line is lost or mixed up.
#include "brenvo/JSON/JsonLog.h"
#include "brenvo/JSON/NSObject+XKJSON.h"
#include "brenvo/JSON/NSString+XKJSON.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace brenvo {
namespace {

TEST(ConvenienceThreads, ParseWriteAndLogFromManyThreadsAtOnce) {
    constexpr int kThreads = 6;
    constexpr int kRounds = 300;
    std::atomic<int> lines{0};
    std::atomic<int> wrongLines{0};
    const auto handler = [&](std::string_view text) {
        lines.fetch_add(1, std::memory_order_relaxed);
        if (!text.starts_with("-JSONValue failed. Error trace is: ")) {
            wrongLines.fetch_add(1, std::memory_order_relaxed);
        }
    };
    setJsonLogHandler(handler);
    std::atomic<int> running{kThreads};
    std::atomic<int> wrongResults{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                const std::string text = R"({"thread":)" + std::to_string(t) + R"(,"round":)" +
                                         std::to_string(i) +
                                         R"(,"text":"gr\u00fc\u00dfe","list":[1.25,true,null]})";
                const auto value = JSONValue(text);
                const auto written = value ? JSONRepresentation(*value) : std::nullopt;
                const auto again =
                    written ? JSONValue(std::u16string_view(*written)) : std::nullopt;
                const JsonValue* thread = JsonRef(value)["thread"].get();
                if (!again || *again != *value || !thread || *thread != JsonValue(t)) {
                    wrongResults.fetch_add(1, std::memory_order_relaxed);
                }
                if (JSONValue("[1,").has_value()) { // fails and logs one line
                    wrongResults.fetch_add(1, std::memory_order_relaxed);
                }
            }
            running.fetch_sub(1);
        });
    }
    while (running.load() > 0) {
        setJsonLogHandler([handler](std::string_view text) { handler(text); });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    setJsonLogHandler(nullptr);
    EXPECT_EQ(wrongResults.load(), 0);
    EXPECT_EQ(lines.load(), kThreads * kRounds);
    EXPECT_EQ(wrongLines.load(), 0);
}

} // namespace
} // namespace brenvo
