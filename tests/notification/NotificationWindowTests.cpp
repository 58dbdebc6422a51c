// The release window as a desktop notification, against a fake notification service on a private
// session bus, served by Brenvo's own run loop; and the order in which the default windows are
// tried when the host registers none.
#include "FakeNotifications.h"

#include "brenvo/BrenvoKeys.h"
#include "brenvo/BrenvoReleaseInfo.h"
#include "brenvo/CheckResultMessage.h"
#include "brenvo/platform/glib/NotificationWindow.h"
#include "support/ScopedLocale.h"
#include "support/ScriptedWindow.h"
#include "support/Session.h"
#include "support/TestServices.h"

#ifdef BRENVO_TEST_WITH_GTK
#include "brenvo/platform/gtk/GtkReleaseWindow.h"
#include "support/Xvfb.h"
#include <gtk/gtk.h>
#endif

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

using brenvo::BrenvoReleaseInfo;
using brenvo::JsonValue;
using brenvo::test::FakeNotificationService;
using brenvo::test::PrivateBus;
namespace platform = brenvo::platform;

const char* const kDescription =
    "Demo 2.0 is now available - you have 1.0. Would you like to open App Store for Update now?";

// Test services on a run loop that keeps real time, since the bus and the service do.
class NotificationTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(bus_.address().empty()) << "dbus-daemon could not be started";
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus_.address().c_str(), 1);
        test_.setInfo("CFBundleName", "Demo");
        test_.center.addObserver(
            this, [this](const platform::Notification&) { ++closedNotes_; },
            brenvo::kBrenvoReleaseWindowClosed, nullptr);
    }
    void TearDown() override {
        test_.center.removeObserver(this);
        ::setenv("DBUS_SESSION_BUS_ADDRESS", brenvo::test::kNoSessionBus, 1);
    }

    void show(const std::string& notes) {
        BrenvoReleaseInfo::initWithReleaseInfo(
            JsonValue::object({{"version", "2.0"}, {"releaseNotes", notes}}), services_);
    }

    // Serves the run loop until `done()` holds or 10 s have passed; false on the time limit.
    bool serveUntil(const std::function<bool()>& done) {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done()) {
            if (std::chrono::steady_clock::now() > until)
                return false;
            loop_.runMode(platform::kDefaultRunLoopMode, std::chrono::milliseconds(20));
        }
        return true;
    }

    bool closedAndGone() {
        return serveUntil(
            [&] { return closedNotes_ > 0 && BrenvoReleaseInfo::liveControllers() == 0; });
    }

    PrivateBus bus_;
    brenvo::test::TestServices test_;
    platform::SystemClock clock_;
    platform::RunLoop loop_{clock_};
    platform::Services services_{test_.mainBundle,
                                 test_.frameworkBundle,
                                 test_.defaults,
                                 clock_,
                                 loop_,
                                 test_.center,
                                 test_.log,
                                 test_.http,
                                 test_.systemVersion,
                                 test_.workspace,
                                 test_.windows};
    int closedNotes_ = 0;
};

TEST_F(NotificationTest, EachOutcomeAnswersAsTheWindowWould) {
    struct Row {
        const char* what;
        std::function<void(FakeNotificationService&, uint32_t)> user;
        std::optional<std::string> skipped;
        std::vector<std::string> opened;
        bool withdrawn; // CloseNotification sent by the window
    };
    const std::vector<Row> rows = {
        {"open",
         [](auto& s, uint32_t id) { s.invokeAction(id, "open"); },
         std::nullopt,
         {"https://www.apple.com/mac/app-store/"},
         true},
        {"skip", [](auto& s, uint32_t id) { s.invokeAction(id, "skip"); }, "2.0", {}, true},
        {"dismissed",
         [](auto& s, uint32_t id) { s.closeNotification(id, 2); },
         std::nullopt,
         {},
         false},
        {"expired",
         [](auto& s, uint32_t id) { s.closeNotification(id, 1); },
         std::nullopt,
         {},
         false},
    };
    platform::registerNotificationWindow(test_.windows, test_.log);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        FakeNotificationService service(bus_.address(), {"actions", "body"});
        ASSERT_TRUE(service.ready());
        test_.defaults.removeObjectForKey(brenvo::kBrenvoSkipVersion);
        closedNotes_ = 0;
        std::size_t openedBefore = test_.workspace.openedURLs().size();

        show("- Faster checks\n- Clearer texts");
        ASSERT_TRUE(serveUntil([&] { return !service.notified().empty(); }));
        const auto sent = service.notified().at(0);
        EXPECT_EQ(sent.appName, "Software Update");
        EXPECT_EQ(sent.summary, "A new Version of Demo is available!");
        EXPECT_EQ(sent.body, std::string(kDescription) +
                                 "\n\nRelease Notes:\n- Faster checks\n- Clearer texts");
        EXPECT_EQ(sent.actions, (std::vector<std::string>{"open", "Open App Store For Update",
                                                          "skip", "Skip This Version"}));
        EXPECT_EQ(sent.expireTimeout, 0);
        EXPECT_EQ(closedNotes_, 0);

        row.user(service, sent.id);
        ASSERT_TRUE(closedAndGone());
        EXPECT_EQ(closedNotes_, 1);
        EXPECT_EQ(test_.defaults.stringForKey(brenvo::kBrenvoSkipVersion), row.skipped);
        EXPECT_EQ(std::vector<std::string>(test_.workspace.openedURLs().begin() + openedBefore,
                                           test_.workspace.openedURLs().end()),
                  row.opened);
        if (row.withdrawn) {
            EXPECT_TRUE(serveUntil([&] { return service.closeRequests().size() == 1; }));
        } else {
            EXPECT_TRUE(service.closeRequests().empty());
        }
    }
    EXPECT_TRUE(test_.log.lines().empty());
}

// The answer to "Check for Updates…" is a plain notification without actions, in English and in
// the host's German; the window closes when the service takes it away.
TEST_F(NotificationTest, CheckResultsArePlainNotifications) {
    std::filesystem::create_directories(test_.resourcesPath() / "de.lproj");
    const struct {
        const char* lang;
        brenvo::CheckOutcome::Kind kind;
        const char *appName, *summary, *body;
    } cases[] = {
        {"en_US.UTF-8", brenvo::CheckOutcome::Kind::UpToDate, "Software Update",
         "Your version is current", "Demo 1.0 is the newest version in the App Store."},
        {"de_DE.UTF-8", brenvo::CheckOutcome::Kind::NoReply, "Softwareaktualisierung",
         "Die Suche nach Updates ist fehlgeschlagen", "Es besteht keine Verbindung zum App Store."},
    };
    platform::registerNotificationWindow(test_.windows, test_.log);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.summary);
        brenvo::test::ScopedLocale locale(c.lang);
        FakeNotificationService service(bus_.address(), {"actions", "body"});
        ASSERT_TRUE(service.ready());
        brenvo::CheckResultMessage message(services_);
        brenvo::CheckOutcome outcome;
        outcome.kind = c.kind;
        ASSERT_TRUE(message.show(*brenvo::checkResultTexts(outcome, test_.mainBundle), false));
        ASSERT_TRUE(serveUntil([&] { return !service.notified().empty(); }));
        const auto sent = service.notified().at(0);
        EXPECT_EQ(sent.appName, c.appName);
        EXPECT_EQ(sent.summary, c.summary);
        EXPECT_EQ(sent.body, c.body);
        EXPECT_TRUE(sent.actions.empty());
        EXPECT_EQ(sent.expireTimeout, -1);
        EXPECT_TRUE(message.isShown());
        service.closeNotification(sent.id, 1);
        EXPECT_TRUE(serveUntil([&] { return !message.isShown(); }));
    }
    EXPECT_EQ(closedNotes_, 0);
    EXPECT_TRUE(test_.log.lines().empty());
}

TEST_F(NotificationTest, NotesAreEscapedForAServiceThatReadsMarkup) {
    FakeNotificationService service(bus_.address(), {"actions", "body", "body-markup"});
    ASSERT_TRUE(service.ready());
    platform::registerNotificationWindow(test_.windows, test_.log);
    show("<b>bold</b> & <a href='x'>link</a>");
    ASSERT_TRUE(serveUntil([&] { return !service.notified().empty(); }));
    EXPECT_EQ(service.notified()[0].body, std::string(kDescription) +
                                              "\n\nRelease Notes:\n&lt;b&gt;bold&lt;/b&gt; &amp; "
                                              "&lt;a href=&apos;x&apos;&gt;link&lt;/a&gt;");
    service.closeNotification(service.notified()[0].id, 2);
    EXPECT_TRUE(closedAndGone());
}

TEST_F(NotificationTest, NoWindowWithoutAServiceThatShowsActions) {
    brenvo::test::ScriptedWindow earlier(platform::WindowAnswer::Close);
    earlier.registerWith(test_.windows);
    platform::registerNotificationWindow(test_.windows, test_.log);
    struct Row {
        const char* what;
        std::vector<std::string> capabilities; // empty: no service on the bus
        bool sessionBus;
    };
    const std::vector<Row> rows = {
        {"no session bus at all", {}, false},
        {"a bus without a notification service", {}, true},
        {"a service that shows no actions", {"body"}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::optional<FakeNotificationService> service;
        if (!row.capabilities.empty()) {
            service.emplace(bus_.address(), row.capabilities);
            ASSERT_TRUE(service->ready());
        }
        if (!row.sessionBus) {
            ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
            // A runtime folder without a bus socket in it.
            ::setenv("XDG_RUNTIME_DIR", test_.dir.path().c_str(), 1);
        }
        std::size_t before = earlier.shown().size();
        show("notes");
        EXPECT_TRUE(closedAndGone());
        EXPECT_EQ(earlier.shown().size(), before + 1); // the window registered before it
        if (service) {
            EXPECT_TRUE(service->notified().empty());
        }
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus_.address().c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", brenvo::test::ownSession().c_str(), 1);
        closedNotes_ = 0;
    }
    EXPECT_TRUE(test_.log.lines().empty());
}

// The default windows go above the one registered before them, in rank order: the toolkit
// window when a display is there, else the notification when a service runs, else the earlier
// window (the terminal one, in the default services).
TEST_F(NotificationTest, DefaultWindowsAreTriedToolkitNotificationThenEarlier) {
#ifdef BRENVO_TEST_WITH_GTK
    // Loaded as a host that links it loads it: a linker that drops unused libraries would not.
    static void (*volatile loaded)(platform::WindowRegistry&) = &platform::registerGtkWindow;
    ASSERT_TRUE(loaded);
#endif
    brenvo::test::ScriptedWindow earlier(std::nullopt);
    earlier.registerWith(test_.windows);
    platform::registerDefaultWindows(test_.windows, test_.log);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ::setenv("GDK_BACKEND", "x11", 1);

    {
        SCOPED_TRACE("no display, no notification service: the earlier window");
        show("notes");
        ASSERT_EQ(earlier.shown().size(), 1u);
        earlier.answer(platform::WindowAnswer::Skip);
        EXPECT_TRUE(closedAndGone());
    }
    {
        SCOPED_TRACE("no display, a notification service: the notification");
        FakeNotificationService service(bus_.address(), {"actions"});
        ASSERT_TRUE(service.ready());
        show("notes");
        ASSERT_TRUE(serveUntil([&] { return !service.notified().empty(); }));
        EXPECT_EQ(earlier.shown().size(), 1u);
        service.invokeAction(service.notified()[0].id, "open");
        EXPECT_TRUE(closedAndGone());
#ifdef BRENVO_TEST_WITH_GTK
        SCOPED_TRACE("a display: the GTK window, though the notification service runs");
        static auto* xvfb = new brenvo::test::Xvfb();
        ASSERT_FALSE(xvfb->display().empty());
        ::setenv("DISPLAY", xvfb->display().c_str(), 1);
        ::setenv("GTK_A11Y", "none", 1);
        ::setenv("NO_AT_BRIDGE", "1", 1);
        show("notes");
        GtkWindow* shown = nullptr;
        GList* all = gtk_window_list_toplevels();
        for (GList* item = all; item; item = item->next)
            if (gtk_window_get_title(GTK_WINDOW(item->data)) &&
                std::string(gtk_window_get_title(GTK_WINDOW(item->data))) == "Software Update")
                shown = GTK_WINDOW(item->data);
        g_list_free(all);
        ASSERT_TRUE(shown);
        EXPECT_EQ(service.notified().size(), 1u);
        gtk_window_close(shown);
        EXPECT_TRUE(closedAndGone());
#endif
    }
    EXPECT_EQ(earlier.shown().size(), 1u);
}

} // namespace
