// The GLib adapter: Brenvo's timers fire from a GLib main context, and GIO opens URLs.
#include "brenvo/platform/glib/GLibRunLoop.h"
#include "brenvo/platform/linux/CurlHttpClient.h"
#include "brenvo/platform/linux/XdgOpenWorkspace.h"
#include "support/CapturingLog.h"
#include "support/LoopbackServer.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace platform = brenvo::platform;

TEST(GLibRunLoopSource, FiresDueTimersFromTheContextOnly) {
    platform::ManualClock clock;
    platform::RunLoop loop(clock);
    GMainContext* context = g_main_context_new();
    std::vector<std::string> fired;
    {
        platform::GLibRunLoopSource source(loop, context);
        auto now = platform::Timer::timerWithTimeInterval(0, [&] { fired.push_back("now"); });
        auto later = platform::Timer::timerWithTimeInterval(10, [&] { fired.push_back("later"); });
        auto cancelled = platform::Timer::timerWithTimeInterval(0, [&] { fired.push_back("x"); });
        loop.addTimer(now, platform::kDefaultRunLoopMode);
        loop.addTimer(later, platform::kDefaultRunLoopMode);
        loop.addTimer(cancelled, platform::kDefaultRunLoopMode);
        cancelled->invalidate();

        // How long GLib may sleep: nothing due yet after the first pass, 10 s to go.
        EXPECT_TRUE(g_main_context_iteration(context, FALSE));
        EXPECT_EQ(fired, std::vector<std::string>{"now"});
        gint priority = 0;
        EXPECT_FALSE(g_main_context_prepare(context, &priority));
        GPollFD fds[8];
        gint timeout = -1;
        g_main_context_query(context, priority, &timeout, fds, 8);
        EXPECT_EQ(timeout, 10'000);
        g_main_context_check(context, priority, fds, 0);
        g_main_context_dispatch(context);

        clock.advance(9.9);
        EXPECT_FALSE(g_main_context_iteration(context, FALSE));
        clock.advance(0.1);
        EXPECT_TRUE(g_main_context_iteration(context, FALSE));
        EXPECT_EQ(fired, (std::vector<std::string>{"now", "later"}));
    }
    // Detached: the loop's timers are no longer run by the context.
    auto after = platform::Timer::timerWithTimeInterval(0, [&] { fired.push_back("after"); });
    loop.addTimer(after, platform::kDefaultRunLoopMode);
    EXPECT_FALSE(g_main_context_iteration(context, FALSE));
    EXPECT_EQ(fired.size(), 2u);
    g_main_context_unref(context);
}

TEST(GLibRunLoopSource, ServesWatchedDescriptorsWhenTheyBecomeReadable) {
    platform::ManualClock clock;
    platform::RunLoop loop(clock);
    GMainContext* context = g_main_context_new();
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    std::string received;
    {
        platform::GLibRunLoopSource source(loop, context);
        const uint64_t watch = loop.watchReadable(pipeFds[0], [&] {
            char byte = 0;
            if (read(pipeFds[0], &byte, 1) == 1)
                received += byte;
        });
        EXPECT_FALSE(g_main_context_iteration(context, FALSE));
        ASSERT_EQ(write(pipeFds[1], "o", 1), 1);
        // Blocks until GLib sees the descriptor readable; the loop's watch then reads it.
        EXPECT_TRUE(g_main_context_iteration(context, TRUE));
        EXPECT_EQ(received, "o");
        loop.removeWatch(watch);
        ASSERT_EQ(write(pipeFds[1], "s", 1), 1);
        EXPECT_FALSE(g_main_context_iteration(context, FALSE));
        EXPECT_EQ(received, "o");
    }
    close(pipeFds[0]);
    close(pipeFds[1]);
    g_main_context_unref(context);
}

// Neither GIO nor the program it falls back to can open the URL: one log line says why.
TEST(GioWorkspace, ReportsAUrlThatNothingOpens) {
    brenvo::test::CapturingLog log;
    platform::GioWorkspace workspace(&log, "brenvo-no-such-program");
    EXPECT_FALSE(workspace.openURL("brenvo-no-such-scheme://nowhere"));
    ASSERT_EQ(log.lines().size(), 1u);
    const std::string& line = log.lines()[0];
    EXPECT_EQ(line.rfind("Brenvo: Cannot open brenvo-no-such-scheme://nowhere: GIO: ", 0), 0u)
        << line;
    EXPECT_NE(line.find("; brenvo-no-such-program: No such file or directory"), std::string::npos)
        << line;
    // Loading this library made GIO the first launcher of every XdgOpenWorkspace.
    EXPECT_EQ(platform::desktopUrlLauncher(), &platform::GioWorkspace::launchWithGio);
}

} // namespace

namespace {

// The store lookup runs on descriptor watches, readable and writable, so a host whose main loop
// is GLib's gets its reply from there, with nothing but GLib's loop running.
TEST(GLibRunLoopSource, CarriesAnHttpRequestToItsEnd) {
    brenvo::test::LoopbackServer server;
    server.reply("/lookup", 200, R"({"results":[]})");
    platform::SystemClock clock;
    platform::RunLoop loop(clock);
    platform::CurlHttpClient client(platform::CurlHttpClient::Options{.maxTimeout = 5.0});
    GMainContext* context = g_main_context_new();
    GMainLoop* main = g_main_loop_new(context, FALSE);
    std::string body;
    {
        platform::GLibRunLoopSource source(loop, context);
        auto request = client.startRequest(
            {server.url("/lookup?id=1")}, loop, [&](platform::URLResponse response) {
                body.assign(response.body.begin(), response.body.end());
                g_main_loop_quit(main);
            });
        GSource* limit = g_timeout_source_new_seconds(10);
        g_source_set_callback(
            limit,
            [](gpointer data) -> gboolean {
                g_main_loop_quit(static_cast<GMainLoop*>(data));
                return G_SOURCE_REMOVE;
            },
            main, nullptr);
        g_source_attach(limit, context);
        g_main_loop_run(main);
        g_source_destroy(limit);
        g_source_unref(limit);
    }
    EXPECT_EQ(body, R"({"results":[]})");
    g_main_loop_unref(main);
    g_main_context_unref(context);
}

} // namespace
