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
//   Agent/Responsiveness/<loop>/<store>
//                                a host that ticks every 10 ms on its main loop (Brenvo's run
//                                loop, or GLib's with the agent's loop attached) while its agent
//                                checks: against a store that answers after 3 s (SlowStore), a
//                                store whose name server never answers (SilentNameServer; needs
//                                the right to make a mount namespace), or a reply under the cap
//                                made of 300,000 members (ManyMembers) or 1,000,000 elements
//                                (ManyElements). The time reported is how much later than 10 ms
//                                the latest tick came (counter "longest_stall_ms", the worst of
//                                the iterations); "outcome_s" is when the check's outcome came,
//                                and "destroy_ms" how long destroying an agent took while its
//                                name lookup hung.
#include "brenvo/Brenvo.h"
#include "brenvo/BrenvoKeys.h"
#include "brenvo/platform/Services.h"
#include "brenvo/platform/linux/CurlHttpClient.h"
#include "brenvo/platform/linux/PlistFile.h"

#include "support/LoopbackServer.h"
#include "support/ScriptedWindow.h"
#include "support/SilentNameServer.h"
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
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

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
    platform::Services services = test.servicesOn(test.clock, test.runLoop, log, http);
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

// The host ticks this often on its main loop.
constexpr auto kTick = std::chrono::milliseconds(10);

// What the agent meets while the host ticks.
enum class Store {
    Slow,             // the store answers after 3 s
    SilentNameServer, // the store's name is never resolved: the check ends at its 10 s time-out
    ManyMembers,      // a release record of 300,000 members (3.5 MB)
    ManyElements,     // an array of 1,000,000 elements beside the record (2 MB)
};

std::string bigReply(Store store) {
    std::string reply;
    if (store == Store::ManyMembers) {
        reply = R"({"resultCount":1,"results":[{"version":"1.9")";
        for (int i = 0; i < 300'000; ++i)
            reply += ",\"k" + std::to_string(i) + "\":1";
        reply += "}]}";
    } else {
        reply = R"({"resultCount":1,"results":[{"version":"1.9"}],"padding":[0)";
        for (int i = 1; i < 1'000'000; ++i)
            reply += ",0";
        reply += "]}";
    }
    return reply;
}

// Runs `loop` from GLib's main loop (`glib`) or by itself until `done()` has held for three ticks,
// with a tick every kTick; the longest time between two ticks.
double tickUntil(platform::RunLoop& loop, bool glib, const std::function<bool()>& done) {
    Clock::time_point last = Clock::now();
    double gap = 0;
    int after = 0;
    // True once the host may stop.
    auto tick = [&] {
        const auto now = Clock::now();
        gap = std::max(gap, std::chrono::duration<double>(now - last).count());
        last = now;
        return done() && ++after == 3;
    };
    if (glib) {
#ifdef BRENVO_BENCH_WITH_GLIB
        GMainContext* context = g_main_context_new();
        GMainLoop* main = g_main_loop_new(context, FALSE);
        {
            platform::GLibRunLoopSource source(loop, context);
            struct Ticker {
                std::function<bool()> tick;
                GMainLoop* main;
            } ticker{tick, main};
            GSource* ticks = g_timeout_source_new(static_cast<guint>(kTick.count()));
            g_source_set_callback(
                ticks,
                [](gpointer data) -> gboolean {
                    auto& t = *static_cast<Ticker*>(data);
                    if (t.tick())
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
        const double seconds = std::chrono::duration<double>(kTick).count();
        std::function<void()> again;
        again = [&] {
            if (tick()) {
                loop.quit();
                return;
            }
            loop.addTimer(platform::Timer::timerWithTimeInterval(seconds, again),
                          platform::kDefaultRunLoopMode);
        };
        loop.addTimer(platform::Timer::timerWithTimeInterval(seconds, again),
                      platform::kDefaultRunLoopMode);
        last = Clock::now();
        loop.run();
    }
    return gap;
}

void responsiveness(benchmark::State& state, bool glib, Store store) {
    auto measure = [&] {
        test::LoopbackServer server;
        if (store == Store::Slow) {
            server.handle("/lookup", [](const test::LoopbackServer::Request&) {
                std::this_thread::sleep_for(std::chrono::seconds(3));
                return test::LoopbackServer::Reply{200, storeReply("1.9")};
            });
        } else if (store != Store::SilentNameServer) {
            server.reply("/lookup", 200, bigReply(store));
        }
        platform::CurlHttpClient curl;
        test::TestServices test(curl);
        PlistDictionary info = hostInfo(&server, false);
        if (store == Store::SilentNameServer)
            info[std::string(kBrenvoCastUrl)] = "https://store.invalid/lookup?id=";
        test.writeInfoPlist(info);
        // The host's own loop, on the machine's clock.
        platform::SystemClock clock;
        platform::RunLoop loop(clock);
        DiscardingLog log;
        platform::Services services = test.servicesOn(clock, loop, log, curl);
        double longest = 0;
        double outcomeAfter = 0;
        double destroy = 0;
        for (auto _ : state) {
            std::optional<CheckOutcome> outcome;
            // A check now, whatever an earlier iteration recorded.
            const auto start = Clock::now();
            Brenvo agent(services);
            agent.setOutcomeObserver([&](const CheckOutcome& ended) {
                outcome = ended;
                outcomeAfter = std::max(outcomeAfter, secondsSince(start));
            });
            agent.checkForUpdates();
            const double gap = tickUntil(loop, glib, [&] { return outcome.has_value(); });
            if (!outcome || outcome->kind == CheckOutcome::Kind::NotConfigured) {
                state.SkipWithError("the check never ended");
                return;
            }
            // The ticks themselves are kTick apart; what the host loses is the rest.
            const double stall = std::max(0.0, gap - std::chrono::duration<double>(kTick).count());
            state.SetIterationTime(stall);
            longest = std::max(longest, stall);

            if (store == Store::SilentNameServer) {
                // An agent destroyed while its lookup hangs.
                auto doomed = std::make_unique<Brenvo>(services);
                doomed->checkForUpdates();
                loop.runMode(platform::kDefaultRunLoopMode, std::chrono::milliseconds(200));
                const auto before = Clock::now();
                doomed.reset();
                destroy = std::max(destroy, secondsSince(before));
            }
        }
        state.counters["longest_stall_ms"] = longest * 1e3;
        state.counters["outcome_s"] = outcomeAfter;
        if (store == Store::SilentNameServer)
            state.counters["destroy_ms"] = destroy * 1e3;
    };
    if (store != Store::SilentNameServer) {
        measure();
        return;
    }
    // The system's resolver waits 30 s for the name server before it gives up.
    const std::string why = test::runWithSilentNameServer(30, measure);
    if (!why.empty())
        state.SkipWithError(why.c_str());
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
    const std::pair<const char*, Store> stores[] = {
        {"SlowStore", Store::Slow},
        {"SilentNameServer", Store::SilentNameServer},
        {"ManyMembers", Store::ManyMembers},
        {"ManyElements", Store::ManyElements},
    };
    std::vector<std::pair<const char*, bool>> loops = {{"RunLoop", false}};
#ifdef BRENVO_BENCH_WITH_GLIB
    loops.emplace_back("GLib", true);
#endif
    for (const auto& [loopName, glib] : loops)
        for (const auto& [storeName, store] : stores)
            benchmark::RegisterBenchmark(
                (std::string("Agent/Responsiveness/") + loopName + "/" + storeName).c_str(),
                [glib = glib, store = store](benchmark::State& state) {
                    responsiveness(state, glib, store);
                })
                ->UseManualTime()
                ->Iterations(3)
                ->Unit(benchmark::kMillisecond);
    return true;
}();

} // namespace
} // namespace brenvo::bench
