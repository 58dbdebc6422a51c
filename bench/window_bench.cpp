// How long a host's toolkit loop stalls while the agent checks and shows an oversized reply, on an
// Xvfb server of its own. The host shows its own window and ticks every 10 ms on its main loop
// (GTK's, or Qt's), with the agent's run loop attached by the one call for that toolkit; the
// agent checks against a loopback store, and the run ends 500 ms after the check's outcome.
//
//   Window/<toolkit>/Notes3.9MB    a newer version with 3.9 MB of release notes: the window shows
//   Window/<toolkit>/Version4MB    a "version" of 4,000,001 characters: no window, the reply is
//                                  unusable
//
// The time reported is the longest gap between two ticks (counter "longest_gap_ms", the worst of
// the iterations); a host keeps its loop responsive while that stays under 50 ms. Counter
// "window_gap_ms" is the part after the decision: from the outcome to the next tick, and every
// gap after it (the window coming up and being drawn), without the reply's transfer and parse.
#include "brenvo/Brenvo.h"
#include "brenvo/BrenvoKeys.h"
#include "brenvo/BrenvoReleaseInfo.h"
#include "brenvo/platform/Services.h"
#include "brenvo/platform/linux/CurlHttpClient.h"

#include "support/LoopbackServer.h"
#include "support/TestServices.h"
#include "support/Xvfb.h"

#include <benchmark/benchmark.h>

#ifdef BRENVO_BENCH_WITH_GTK
#include "brenvo/platform/gtk/GtkHost.h"
#include <gtk/gtk.h>
#endif
#ifdef BRENVO_BENCH_WITH_QT
#include "brenvo/platform/qt/QtHost.h"
#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QLabel>
#include <QMainWindow>
#include <QTimer>
#endif

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <utility>

namespace brenvo::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kTick = std::chrono::milliseconds(10);
constexpr auto kAfterOutcome = std::chrono::milliseconds(500);

struct ReplyCase {
    const char* name;
    std::string (*body)();
    bool shown; // the release window comes up
};

std::string notesReply() {
    std::string notes;
    while (notes.size() < 3'900'000)
        notes += "- Fixed an issue that some users saw.\\n";
    return R"({"resultCount":1,"results":[{"version":"2.0","releaseNotes":")" + notes +
           R"(","trackViewUrl":"https://apps.apple.com/app/id123456?mt=12"}]})";
}

std::string versionReply() {
    return R"({"resultCount":1,"results":[{"version":"9)" + std::string(4'000'000, '&') +
           R"(","releaseNotes":"Fixes."}]})";
}

const ReplyCase kReplies[] = {
    {"Notes3.9MB", notesReply, true},
    {"Version4MB", versionReply, false},
};

// One Xvfb server for the process: the toolkits keep their display connection until it ends.
bool display() {
    static const bool started = [] {
        auto* xvfb = new test::Xvfb(); // lives as long as the process
        if (xvfb->display().empty())
            return false;
        ::setenv("DISPLAY", xvfb->display().c_str(), 1);
        ::unsetenv("WAYLAND_DISPLAY");
        ::setenv("GDK_BACKEND", "x11", 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        ::setenv("GTK_A11Y", "none", 1);
        ::setenv("NO_AT_BRIDGE", "1", 1);
        // No desktop notification and no bus launched for the purpose: the toolkit window shows.
        ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
        return true;
    }();
    return started;
}

// The host's world: test services whose run loop keeps the machine's time, and a loopback store.
struct Host {
    explicit Host(const ReplyCase& row) : test(curl), loop(clock) {
        server.reply("/lookup", 200, row.body());
        platform::PlistDictionary info = test::TestServices::defaultInfo();
        info[std::string(kBrenvoAppId)] = "123456";
        info[std::string(kCFBundleShortVersionString)] = "1.9";
        info[std::string(kBrenvoCastUrl)] = server.url("/lookup?id=");
        test.writeInfoPlist(info);
    }

    test::LoopbackServer server;
    platform::CurlHttpClient curl;
    test::TestServices test;
    platform::SystemClock clock;
    platform::RunLoop loop;
    platform::Services services{test.mainBundle,
                                test.frameworkBundle,
                                test.defaults,
                                clock,
                                loop,
                                test.center,
                                test.log,
                                curl,
                                test.systemVersion,
                                test.workspace,
                                test.windows};
};

// Measures one check on the toolkit's loop: `attach(host, true)` hooks the host's services up to
// it (false: unhooks them), `serve(tick, done)` runs it, calling `tick` every 10 ms, until
// `done()` holds; `closeWindows()` closes what the check showed.
void measure(
    benchmark::State& state, const ReplyCase& row, const std::function<void(Host&, bool)>& attach,
    const std::function<void(const std::function<void()>&, const std::function<bool()>&)>& serve,
    const std::function<void()>& closeWindows) {
    if (!display()) {
        state.SkipWithError("Xvfb could not be started");
        return;
    }
    Host host(row);
    attach(host, true);
    double longest = 0;
    double longestAfter = 0;
    for (auto _ : state) {
        std::optional<Clock::time_point> outcome;
        bool shown = false;
        bool expected = false;
        {
            Brenvo agent(host.services);
            agent.setOutcomeObserver([&](const CheckOutcome& result) {
                outcome = Clock::now();
                shown = result.kind == CheckOutcome::Kind::UpdateAvailable;
            });
            Clock::time_point last = Clock::now();
            double gap = 0;
            double after = 0;
            agent.checkForUpdates();
            serve(
                [&] {
                    const auto now = Clock::now();
                    gap = std::max(gap, std::chrono::duration<double>(now - last).count());
                    if (outcome)
                        after = std::max(
                            after,
                            std::chrono::duration<double>(now - std::max(last, *outcome)).count());
                    last = now;
                },
                [&] { return outcome && Clock::now() - *outcome > kAfterOutcome; });
            expected =
                shown == row.shown && BrenvoReleaseInfo::liveControllers() == (row.shown ? 1u : 0u);
            state.SetIterationTime(gap);
            longest = std::max(longest, gap);
            longestAfter = std::max(longestAfter, after);
        }
        closeWindows();
        const auto until = Clock::now() + std::chrono::seconds(5);
        serve([] {},
              [&] { return BrenvoReleaseInfo::liveControllers() == 0 || Clock::now() > until; });
        if (!expected) {
            state.SkipWithError("the check did not end as expected");
            break;
        }
    }
    attach(host, false);
    state.counters["longest_gap_ms"] = longest * 1e3;
    state.counters["window_gap_ms"] = longestAfter * 1e3;
}

#ifdef BRENVO_BENCH_WITH_GTK
void gtk(benchmark::State& state, const ReplyCase& row) {
    if (!display() || !gtk_init_check(nullptr, nullptr)) {
        state.SkipWithError("GTK cannot start");
        return;
    }
    struct Serving {
        const std::function<void()>* tick;
    };
    static GtkWidget* window = [] {
        GtkWidget* made = gtk_window_new(GTK_WINDOW_TOPLEVEL); // the host's, for the process
        gtk_container_add(GTK_CONTAINER(made), gtk_label_new("Host"));
        gtk_widget_show_all(made);
        return made;
    }();
    measure(
        state, row,
        [](Host& host, bool on) {
            if (on)
                platform::attachGtkHost(host.services, GTK_WINDOW(window));
            else
                platform::detachGtkHost(host.services);
        },
        [](const std::function<void()>& tick, const std::function<bool()>& done) {
            Serving serving{&tick};
            const guint ticker = g_timeout_add(
                static_cast<guint>(kTick.count()),
                [](gpointer data) -> gboolean {
                    (*static_cast<Serving*>(data)->tick)();
                    return G_SOURCE_CONTINUE;
                },
                &serving);
            while (!done())
                g_main_context_iteration(nullptr, TRUE);
            g_source_remove(ticker);
        },
        [] {
            GList* all = gtk_window_list_toplevels();
            for (GList* item = all; item; item = item->next) {
                const char* title = gtk_window_get_title(GTK_WINDOW(item->data));
                if (title && std::string(title) == "Software Update")
                    gtk_window_close(GTK_WINDOW(item->data));
            }
            g_list_free(all);
        });
}
#endif

#ifdef BRENVO_BENCH_WITH_QT
void qt(benchmark::State& state, const ReplyCase& row) {
    if (!display()) {
        state.SkipWithError("Xvfb could not be started");
        return;
    }
    static QMainWindow* window = [] {
        static int argc = 1;
        static char name[] = "window_bench";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv); // lives as long as the process, as the host's window
        auto* made = new QMainWindow();
        made->setCentralWidget(new QLabel("Host"));
        made->show();
        return made;
    }();
    measure(
        state, row,
        [](Host& host, bool on) {
            if (on)
                platform::attachQtHost(host.services, window);
            else
                platform::detachQtHost(host.services);
        },
        [](const std::function<void()>& tick, const std::function<bool()>& done) {
            QTimer ticker;
            QObject::connect(&ticker, &QTimer::timeout, tick);
            ticker.start(static_cast<int>(kTick.count()));
            while (!done())
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        },
        [] {
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible())
                    dialog->close();
            for (QDialog* dialog : window->findChildren<QDialog*>())
                if (dialog->isVisible())
                    dialog->close();
        });
}
#endif

const bool registered = [] {
    using Run = void (*)(benchmark::State&, const ReplyCase&);
    const std::pair<const char*, Run> toolkits[] = {
#ifdef BRENVO_BENCH_WITH_GTK
        {"Gtk", gtk},
#endif
#ifdef BRENVO_BENCH_WITH_QT
        {"Qt", qt},
#endif
    };
    for (const ReplyCase& row : kReplies)
        for (const auto& [toolkit, run] : toolkits)
            benchmark::RegisterBenchmark(
                (std::string("Window/") + toolkit + "/" + row.name).c_str(),
                [&row, run = run](benchmark::State& state) { run(state, row); })
                ->UseManualTime()
                ->Iterations(5)
                ->Unit(benchmark::kMillisecond);
    return true;
}();

} // namespace
} // namespace brenvo::bench
