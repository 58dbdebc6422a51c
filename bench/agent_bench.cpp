// What the agent costs a host: its start-up and one whole check, on real services (Info.plist and
// defaults files in a temporary folder, the libcurl client, a loopback store server) with the run
// loop on a manual clock.
//
//   Agent/StartUp                constructing the agent until its first check timer is armed
//                                (counter "shutdown_us": destroying it again)
//   Agent/Check/<case>           from the check timer firing to the decision (the release window
//                                requested, or the not-newer outcome); the time reported leaves
//                                out the wait inside the HTTP request (counters "total_us" and
//                                "network_us" give both parts)
//   Agent/BareGet                the same request to the same kind of server, with nothing around
//                                it: what "network_us" is made of
//   Agent/Responsiveness/<loop>  a host that ticks every 100 ms on its main loop (Brenvo's run
//                                loop, or GLib's with the agent's loop attached) while its agent
//                                checks against a store that answers after 3 s: the time reported
//                                is how much later than 100 ms the latest tick came (counter
//                                "longest_stall_ms", the worst of the iterations)
#include "brenvo/Brenvo.h"
#include "brenvo/BrenvoKeys.h"
#include "brenvo/platform/Services.h"
#include "brenvo/platform/system/CurlHttpClient.h"
#include "brenvo/platform/system/PlistFile.h"

#include "support/LoopbackServer.h"
#include "support/ScriptedWindow.h"
#include "support/TestServices.h"

#include <benchmark/benchmark.h>

#ifdef BRENVO_BENCH_WITH_GLIB
#include "brenvo/platform/glib/GLibRunLoop.h"
#include <glib.h>
#endif

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace brenvo::bench {
namespace {

using Clock = std::chrono::steady_clock;
using platform::PlistDictionary;

constexpr double kDay = 86400.0;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A store reply of a realistic size: one record with release notes and the usual fields.
std::string storeReply(const std::string& version) {
    std::string notes;
    for (int i = 1; i <= 20; ++i)
        notes += "- Fixed issue number " + std::to_string(i) + " that some users saw.\\n";
    return R"({"resultCount":1,"results":[{"kind":"mac-software","trackId":123456,)"
           R"("trackName":"Brenvo Bench","bundleId":"org.brenvo.bench","version":")" +
           version + R"(","releaseNotes":")" + notes +
           R"(","trackViewUrl":"https://example.org/app/brenvo-bench/id123456?mt=12",)"
           R"("currentVersionReleaseDate":"2026-11-30T08:00:00Z","minimumOsVersion":"10.13",)"
           R"("price":0.00,"currency":"USD","formattedPrice":"Free",)"
           R"("description":"A host application for measuring the update agent.",)"
           R"("averageUserRating":4.5,"userRatingCount":1234}]})";
}

// The host's Info.plist: an identifier, its version, and the loopback store as the lookup URL.
PlistDictionary hostInfo(const test::LoopbackServer* server, bool debugMessages) {
    PlistDictionary info = test::TestServices::defaultInfo();
    info[std::string(kBrenvoAppId)] = "123456";
    info[std::string(kCFBundleShortVersionString)] = "1.9";
    info[std::string(kBrenvoDebugMessages)] = debugMessages;
    if (server)
        info[std::string(kBrenvoCastUrl)] = server->url("/lookup?id=");
    return info;
}

// A user's defaults file: last checked an hour before the clock's start.
void writeDefaults(test::TestServices& test) {
    const auto path = test.defaultsPath();
    std::filesystem::create_directories(path.parent_path());
    const PlistDictionary defaults = {
        {std::string(kBrenvoLastCheck),
         platform::Date{test.clock.date().secondsSince1970 - 3600.0}}};
    platform::writePropertyListFile(platform::PlistValue(defaults), path,
                                    platform::PlistFormat::XML, nullptr);
}

// A log that drops its lines, so the figures hold the agent's work and not a terminal's.
class DiscardingLog final : public platform::Log {
public:
    void write(std::string_view text) override { benchmark::DoNotOptimize(text.data()); }
};

// Hands each request to the real client and adds up the time from its start to its reply.
class TimedHttp final : public platform::HttpClient {
public:
    explicit TimedHttp(platform::HttpClient& inner) : inner_(inner) {}
    std::unique_ptr<platform::HttpRequest> startRequest(const platform::URLRequest& request,
                                                        platform::RunLoop& loop,
                                                        Completion completion) override {
        const auto start = Clock::now();
        ++requests;
        return inner_.startRequest(
            request, loop,
            [this, start, completion = std::move(completion)](platform::URLResponse response) {
                waited += secondsSince(start);
                completion(std::move(response));
            });
    }
    double waited = 0;
    int requests = 0;

private:
    platform::HttpClient& inner_;
};

void startUp(benchmark::State& state) {
    double shutdown = 0;
    for (auto _ : state) {
        test::TestServices test;
        test.writeInfoPlist(hostInfo(nullptr, false));
        writeDefaults(test);

        const auto start = Clock::now();
        auto agent = std::make_unique<Brenvo>(test.services);
        const double started = secondsSince(start);
        if (test.runLoop.pendingTimers() != 1) {
            state.SkipWithError("the agent armed no check timer");
            return;
        }
        const auto stop = Clock::now();
        agent.reset();
        shutdown += secondsSince(stop);
        state.SetIterationTime(started);
    }
    state.counters["shutdown_us"] =
        benchmark::Counter(shutdown * 1e6, benchmark::Counter::kAvgIterations);
}

struct CheckCase {
    const char* name;
    const char* storeVersion; // the host is at "1.9"
    bool debugMessages;
    bool shown; // the check ends by requesting the release window
};

const CheckCase kChecks[] = {
    {"NotNewer", "1.9", false, false},
    {"Newer", "2.0", false, true},
    {"NotNewerDebugLines", "1.9", true, false},
};

void check(benchmark::State& state, const CheckCase& row) {
    test::LoopbackServer server;
    server.reply("/lookup", 200, storeReply(row.storeVersion));
    platform::CurlHttpClient curl;
    TimedHttp http(curl);
    test::TestServices test(http);
    test.writeInfoPlist(hostInfo(&server, row.debugMessages));
    writeDefaults(test);
    DiscardingLog log;
    platform::Services services{test.mainBundle,    test.frameworkBundle, test.defaults, test.clock,
                                test.runLoop,       test.center,          log,           http,
                                test.systemVersion, test.workspace,       test.windows};
    // Closes each window on the loop's pass after it was shown, which arms the next check.
    test::ScriptedWindow window(platform::WindowAnswer::Close);
    window.registerWith(test.windows);

    Brenvo agent(services);
    double total = 0;
    for (auto _ : state) {
        // Makes the pending check due: a day later, or the rest of the hour since the last one.
        test.clock.advance(kDay);
        const double waitedBefore = http.waited;
        const size_t windowsBefore = window.shown().size();
        const auto start = Clock::now();
        test.runLoop.dispatch();
        test.runLoop.finishPendingIO(std::chrono::seconds(10));
        const double elapsed = secondsSince(start);
        const double waited = http.waited - waitedBefore;
        if (window.shown().size() != windowsBefore + (row.shown ? 1 : 0)) {
            state.SkipWithError("the check did not reach the expected decision");
            return;
        }
        total += elapsed;
        state.SetIterationTime(elapsed - waited);
        if (row.shown)
            test.runLoop.dispatch(); // the window's answer, outside the measured time
    }
    if (http.requests != static_cast<int>(state.iterations())) {
        state.SkipWithError("not one request per check");
        return;
    }
    state.counters["total_us"] =
        benchmark::Counter(total * 1e6, benchmark::Counter::kAvgIterations);
    state.counters["network_us"] =
        benchmark::Counter(http.waited * 1e6, benchmark::Counter::kAvgIterations);
}

void bareGet(benchmark::State& state) {
    test::LoopbackServer server;
    server.reply("/lookup", 200, storeReply("1.9"));
    platform::CurlHttpClient curl;
    const platform::URLRequest request{server.url("/lookup?id=123456")};
    for (auto _ : state) {
        auto response = curl.sendSynchronousRequest(request);
        if (response.body.empty()) {
            state.SkipWithError("no reply from the loopback server");
            return;
        }
        benchmark::DoNotOptimize(response);
    }
}

// The store answers after this long; the host ticks this often.
constexpr auto kStoreDelay = std::chrono::seconds(3);
constexpr auto kTick = std::chrono::milliseconds(100);

void responsiveness(benchmark::State& state, bool glib) {
    test::LoopbackServer server;
    server.handle("/lookup", [](const test::LoopbackServer::Request&) {
        std::this_thread::sleep_for(kStoreDelay);
        return test::LoopbackServer::Reply{200, storeReply("1.9")};
    });
    platform::CurlHttpClient curl;
    test::TestServices test(curl);
    test.writeInfoPlist(hostInfo(&server, false));
    // The host's own loop, on the machine's clock; never checked before, so the agent's first
    // check comes at once.
    platform::SystemClock clock;
    platform::RunLoop loop(clock);
    DiscardingLog log;
    platform::Services services{test.mainBundle,
                                test.frameworkBundle,
                                test.defaults,
                                clock,
                                loop,
                                test.center,
                                log,
                                curl,
                                test.systemVersion,
                                test.workspace,
                                test.windows};
    double longest = 0;
    for (auto _ : state) {
        Clock::time_point last = Clock::now();
        double gap = 0;
        bool replied = false;
        auto tick = [&] {
            const auto now = Clock::now();
            gap = std::max(gap, std::chrono::duration<double>(now - last).count());
            last = now;
        };
        // A check now, whatever an earlier iteration recorded.
        Brenvo agent(services);
        agent.checkForUpdates();
        if (glib) {
#ifdef BRENVO_BENCH_WITH_GLIB
            GMainContext* context = g_main_context_new();
            GMainLoop* main = g_main_loop_new(context, FALSE);
            {
                platform::GLibRunLoopSource source(loop, context);
                agent.setOutcomeObserver([&](const CheckOutcome&) { replied = true; });
                struct Ticker {
                    std::function<void()> tick;
                    bool* replied;
                    GMainLoop* main;
                    int after = 0;
                } ticker{tick, &replied, main};
                GSource* ticks = g_timeout_source_new(static_cast<guint>(kTick.count()));
                g_source_set_callback(
                    ticks,
                    [](gpointer data) -> gboolean {
                        auto& t = *static_cast<Ticker*>(data);
                        t.tick();
                        if (*t.replied && ++t.after == 3)
                            g_main_loop_quit(t.main);
                        return G_SOURCE_CONTINUE;
                    },
                    &ticker, nullptr);
                g_source_attach(ticks, context);
                last = Clock::now();
                g_main_loop_run(main);
                g_source_destroy(ticks);
                g_source_unref(ticks);
            }
            g_main_loop_unref(main);
            g_main_context_unref(context);
#endif
        } else {
            agent.setOutcomeObserver([&](const CheckOutcome&) { replied = true; });
            int after = 0;
            std::function<void()> again;
            again = [&] {
                tick();
                if (replied && ++after == 3) {
                    loop.quit();
                    return;
                }
                loop.addTimer(platform::Timer::timerWithTimeInterval(
                                  std::chrono::duration<double>(kTick).count(), again),
                              platform::kDefaultRunLoopMode);
            };
            loop.addTimer(platform::Timer::timerWithTimeInterval(
                              std::chrono::duration<double>(kTick).count(), again),
                          platform::kDefaultRunLoopMode);
            last = Clock::now();
            loop.run();
        }
        if (!replied) {
            state.SkipWithError("the check never ended");
            return;
        }
        // The ticks themselves are 100 ms apart; what the host loses is the rest.
        const double stall = std::max(0.0, gap - std::chrono::duration<double>(kTick).count());
        state.SetIterationTime(stall);
        longest = std::max(longest, stall);
    }
    state.counters["longest_stall_ms"] = longest * 1e3;
}

const bool registered = [] {
    benchmark::RegisterBenchmark("Agent/StartUp", startUp)
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
    for (const CheckCase& row : kChecks)
        benchmark::RegisterBenchmark((std::string("Agent/Check/") + row.name).c_str(),
                                     [&row](benchmark::State& state) { check(state, row); })
            ->UseManualTime()
            ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("Agent/BareGet", bareGet)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("Agent/Responsiveness/RunLoop",
                                 [](benchmark::State& state) { responsiveness(state, false); })
        ->UseManualTime()
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);
#ifdef BRENVO_BENCH_WITH_GLIB
    benchmark::RegisterBenchmark("Agent/Responsiveness/GLib",
                                 [](benchmark::State& state) { responsiveness(state, true); })
        ->UseManualTime()
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);
#endif
    return true;
}();

} // namespace
} // namespace brenvo::bench
