// Brenvo's run loop driven from Qt's event loop. ctest runs these on Qt's GLib dispatcher and,
// with QT_NO_GLIB=1, on Qt's own.
#include "QtTestApp.h"

#include "brenvo/platform/linux/CurlHttpClient.h"
#include "brenvo/platform/qt/QtRunLoop.h"
#include "support/LoopbackServer.h"

#include <QAbstractEventDispatcher>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace platform = brenvo::platform;
using brenvo::test::serveQtUntil;

TEST(QtRunLoop, RunsOnTheDispatcherTheEnvironmentAsksFor) {
    ASSERT_TRUE(brenvo::test::qtTestApp());
    std::string dispatcher = QAbstractEventDispatcher::instance()->metaObject()->className();
    const bool glib = dispatcher.find("Glib") != std::string::npos;
    EXPECT_EQ(glib, std::getenv("QT_NO_GLIB") == nullptr) << dispatcher;
}

TEST(QtRunLoop, FiresTimersAndServesDescriptorsFromQtOnly) {
    ASSERT_TRUE(brenvo::test::qtTestApp());
    platform::SystemClock clock;
    platform::RunLoop loop(clock);
    std::vector<std::string> fired;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    {
        platform::QtRunLoopSource source(loop);
        EXPECT_TRUE(platform::QtRunLoopSource::drives(loop));
        // Armed after the source: Qt learns of them when it is next about to wait.
        auto soon = platform::Timer::timerWithTimeInterval(0, [&] { fired.push_back("soon"); });
        auto later =
            platform::Timer::timerWithTimeInterval(0.05, [&] { fired.push_back("later"); });
        auto cancelled = platform::Timer::timerWithTimeInterval(0, [&] { fired.push_back("x"); });
        loop.addTimer(later, platform::kDefaultRunLoopMode);
        loop.addTimer(soon, platform::kDefaultRunLoopMode);
        loop.addTimer(cancelled, platform::kDefaultRunLoopMode);
        cancelled->invalidate();
        ASSERT_TRUE(serveQtUntil([&] { return fired.size() == 2; }));
        EXPECT_EQ(fired, (std::vector<std::string>{"soon", "later"}));

        // A descriptor becoming readable wakes Qt, which lets the loop serve it.
        std::string received;
        const uint64_t watch = loop.watchReadable(fds[0], [&] {
            char byte = 0;
            if (::read(fds[0], &byte, 1) == 1)
                received += byte;
        });
        QTimer::singleShot(20, [&] { ASSERT_EQ(::write(fds[1], "o", 1), 1); });
        ASSERT_TRUE(serveQtUntil([&] { return received == "o"; }));
        loop.removeWatch(watch);
        ASSERT_EQ(::write(fds[1], "s", 1), 1);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        EXPECT_EQ(received, "o");
    }
    // Detached: Qt no longer runs the loop's timers.
    EXPECT_FALSE(platform::QtRunLoopSource::drives(loop));
    auto after = platform::Timer::timerWithTimeInterval(0, [&] { fired.push_back("after"); });
    loop.addTimer(after, platform::kDefaultRunLoopMode);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(fired.size(), 2u);
    ::close(fds[0]);
    ::close(fds[1]);
}

// The store lookup runs on descriptor watches, readable and writable: a Qt host gets its reply
// with nothing but Qt's event loop running.
TEST(QtRunLoop, CarriesAnHttpRequestToItsEnd) {
    ASSERT_TRUE(brenvo::test::qtTestApp());
    brenvo::test::LoopbackServer server;
    server.reply("/lookup", 200, R"({"results":[]})");
    platform::SystemClock clock;
    platform::RunLoop loop(clock);
    platform::CurlHttpClient client(platform::CurlHttpClient::Options{.maxTimeout = 5.0});
    platform::QtRunLoopSource source(loop);
    std::optional<std::string> body;
    auto request = client.startRequest({server.url("/lookup?id=1")}, loop,
                                       [&](platform::URLResponse response) {
                                           body.emplace(response.body.begin(), response.body.end());
                                       });
    ASSERT_TRUE(serveQtUntil([&] { return body.has_value(); }));
    EXPECT_EQ(*body, R"({"results":[]})");
}

} // namespace
