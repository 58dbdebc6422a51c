#include "Host.h"

#include "Signals.h"

#include "brenvo/BrenvoKeys.h"
#include "brenvo/BrenvoReleaseInfo.h"
#include "brenvo/platform/Clock.h"
#include "brenvo/platform/Log.h"
#include "brenvo/platform/NotificationCenter.h"
#include "brenvo/platform/RunLoop.h"
#include "brenvo/platform/linux/CurlHttpClient.h"
#include "brenvo/platform/linux/FrameworkBundle.h"
#include "brenvo/platform/linux/InfoPlistBundle.h"
#include "brenvo/platform/linux/PlistUserDefaults.h"
#include "brenvo/platform/linux/TerminalWindow.h"
#include "brenvo/platform/linux/XdgOpenWorkspace.h"
#include "brenvo/utf/Printable.h"

#ifdef BRENVO_TOOL_WITH_GLIB
#include "brenvo/platform/glib/NotificationWindow.h"
#endif
#ifdef BRENVO_TOOL_WITH_GTK
#include "brenvo/platform/gtk/GtkHost.h"
#include "brenvo/platform/gtk/GtkReleaseWindow.h"
#include <glib-unix.h>
#include <glib.h>
#include <gtk/gtk.h>
#endif
#ifdef BRENVO_TOOL_WITH_QT
#include "brenvo/platform/qt/QtHost.h"
#include "brenvo/platform/qt/QtReleaseWindow.h"
#include <QApplication>
#endif

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace brenvo::tool {

using namespace brenvo::platform;

namespace {

void writeOut(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

// The host's bundle, except that "BrenvoDebugMessages" reads true.
class DebugBundle final : public Bundle {
public:
    explicit DebugBundle(Bundle& inner) : inner_(inner) {}
    std::optional<PlistValue> objectForInfoDictionaryKey(std::string_view key) const override {
        if (key == kBrenvoDebugMessages)
            return PlistValue(true);
        return inner_.objectForInfoDictionaryKey(key);
    }
    PlistDictionary
    objectsForInfoDictionaryKeys(std::span<const std::string_view> keys) const override {
        PlistDictionary found = inner_.objectsForInfoDictionaryKeys(keys);
        if (std::find(keys.begin(), keys.end(), kBrenvoDebugMessages) != keys.end())
            found.insert_or_assign(std::string(kBrenvoDebugMessages), PlistValue(true));
        return found;
    }
    std::string localizedStringForKey(std::string_view key, std::string_view value,
                                      std::string_view table) const override {
        return inner_.localizedStringForKey(key, value, table);
    }

private:
    Bundle& inner_;
};

// Prints every URL handed to the system; hands it on unless the tool answers by itself.
class ToolWorkspace final : public Workspace {
public:
    ToolWorkspace(Workspace* launcher, bool print) : launcher_(launcher), print_(print) {}
    bool openURL(std::string_view url) override {
        if (print_)
            writeOut("open: " + utf::printable(url) + "\n");
        return launcher_ ? launcher_->openURL(url) : true;
    }

private:
    Workspace* launcher_;
    bool print_;
};

// Makes the window a tool choice shows, for the given owner.
using InnerWindowMaker = std::function<std::unique_ptr<Window>(ReleaseWindowOwner&, RunLoop&)>;

// A toolkit window or notification, answering by itself after a short while. It stands between
// the window and its owner, so it knows when the window has closed by other means and then gives
// no answer.
class AnsweringWindow final : public Window, private ReleaseWindowOwner {
public:
    AnsweringWindow(ReleaseWindowOwner& owner, RunLoop& loop, WindowAnswer answer, double delay)
        : owner_(owner), loop_(loop), answer_(answer), delay_(delay) {}
    ~AnsweringWindow() override {
        if (timer_)
            timer_->invalidate();
    }

    bool load(const InnerWindowMaker& make) {
        inner_ = make(*this, loop_);
        return inner_ != nullptr;
    }

    void showWindow(const ReleaseTexts& texts) override {
        writeOut(releaseWindowText(texts));
        inner_->showWindow(texts);
        if (closed_)
            return;
        timer_ = Timer::timerWithTimeInterval(delay_, [this] { give(); });
        loop_.addTimer(timer_, kDefaultRunLoopMode);
    }
    void activateApplication() override { inner_->activateApplication(); }
    void center() override { inner_->center(); }
    void makeKeyAndOrderFront() override { inner_->makeKeyAndOrderFront(); }
    void close() override { inner_->close(); }

private:
    void give() {
        if (closed_)
            return;
        switch (answer_) {
        case WindowAnswer::Open:
            writeOut("> o\n");
            owner_.doOpenMas();
            break;
        case WindowAnswer::Skip:
            writeOut("> s\n");
            owner_.doSkip();
            break;
        case WindowAnswer::Close:
            writeOut("> \n");
            inner_->close();
            break;
        }
    }

    void awakeFromNib() override { owner_.awakeFromNib(); }
    void doOpenMas() override { owner_.doOpenMas(); }
    void doSkip() override { owner_.doSkip(); }
    void windowWillClose() override {
        closed_ = true;
        if (timer_)
            timer_->invalidate();
        owner_.windowWillClose();
    }

    ReleaseWindowOwner& owner_;
    RunLoop& loop_;
    WindowAnswer answer_;
    double delay_;
    std::unique_ptr<Window> inner_;
    std::shared_ptr<Timer> timer_;
    bool closed_ = false;
};

// Registers the window that `make` gives, answering by itself when the tool answers.
void registerToolWindow(WindowRegistry& windows, const HostOptions& options,
                        InnerWindowMaker make) {
    if (!options.answer) {
        windows.registerWindow(std::string(kReleaseInfoWindow), std::move(make));
        return;
    }
    const WindowAnswer answer = *options.answer;
    const double delay = options.answerDelay;
    windows.registerWindow(
        std::string(kReleaseInfoWindow),
        [answer, delay, make = std::move(make)](ReleaseWindowOwner& owner,
                                                RunLoop& loop) -> std::unique_ptr<Window> {
            auto window = std::make_unique<AnsweringWindow>(owner, loop, answer, delay);
            if (!window->load(make))
                return nullptr;
            return window;
        });
}

#ifdef BRENVO_TOOL_WITH_GTK
bool gtkCanStart() {
    static const bool canStart = gtk_init_check(nullptr, nullptr);
    return canStart;
}
#endif

#ifdef BRENVO_TOOL_WITH_QT
// The tool's QApplication, made on first use with the tool's name as its only argument.
QApplication* qtApplication() {
    static int argc = 1;
    static char name[] = "brenvo";
    static char* argv[] = {name, nullptr};
    static QApplication* app = nullptr;
    if (!app && (std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY")))
        app = new QApplication(argc, argv);
    return app;
}
#endif

} // namespace

struct Host::Impl {
    explicit Impl(HostOptions hostOptions)
        : options(std::move(hostOptions)), loop(clock), infoBundle(options.infoPlist, log),
          mainBundle(infoBundle), defaults(options.defaults, log),
          systemVersion(options.systemVersion), launcher(&log),
          workspace(options.answer ? nullptr : &launcher, options.printOpenedUrls),
          services{options.forceDebugMessages ? static_cast<Bundle&>(mainBundle) : infoBundle,
                   frameworkBundle,
                   defaults,
                   clock,
                   loop,
                   NotificationCenter::defaultCenter(),
                   log,
                   http,
                   systemVersion,
                   workspace,
                   windows} {}

    HostOptions options;
    SystemClock clock;
    RunLoop loop;
    SystemLog log;
    InfoPlistBundle infoBundle;
    DebugBundle mainBundle;
    FrameworkBundle frameworkBundle;
    PlistUserDefaults defaults;
    CurlHttpClient http;
    FixedSystemVersion systemVersion;
    XdgOpenWorkspace launcher;
    ToolWorkspace workspace;
    WindowRegistry windows;
    Services services;

    SignalPipe signals;
    bool gtk = false;
    bool qt = false;
    bool signalled = false;
    bool waitingForWindows = false;
    size_t windowsBeforeClose = 0;
#ifdef BRENVO_TOOL_WITH_GTK
    GMainLoop* mainLoop = nullptr;
    guint signalSource = 0;
#endif
};

Host::Host(HostOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {
    Impl& impl = *impl_;
    impl.loop.makeCurrent();
    // Log lines go to standard error only: a tool run is no event for the system log.
    impl.log.setSink([](std::string_view line) {
        std::string text(line);
        text += '\n';
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    });

    // Asked for by name (or answering by itself), the terminal window is always there; otherwise
    // it is the fallback of every host: only for somebody at a terminal.
    TerminalWindowOptions terminal;
    terminal.answer = impl.options.answer;
    terminal.onlyWhenInteractive =
        impl.options.window != WindowChoice::Terminal && !impl.options.answer;
    registerTerminalWindow(impl.windows, terminal);

    const WindowChoice choice = impl.options.window;
#ifdef BRENVO_TOOL_WITH_GTK
    const bool wantGtk =
        choice == WindowChoice::Gtk || (choice == WindowChoice::Auto &&
                                        (std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY")));
    if (wantGtk && gtkCanStart()) {
        impl.gtk = true;
        // The toolkit's window and loop as any host gets them; answering by itself on top.
        attachGtkHost(impl.services, nullptr);
        if (impl.options.answer)
            registerToolWindow(impl.windows, impl.options,
                               [](ReleaseWindowOwner& owner, RunLoop& loop) {
                                   return makeGtkReleaseWindow(owner, loop);
                               });
        impl.mainLoop = g_main_loop_new(nullptr, FALSE);
        impl.signalSource = g_unix_fd_add(
            impl.signals.fd(), G_IO_IN,
            [](gint, GIOCondition, gpointer data) -> gboolean {
                auto* host = static_cast<Host*>(data);
                host->impl_->signalled = true;
                host->impl_->signalSource = 0; // removed by returning G_SOURCE_REMOVE
                host->quit();
                return G_SOURCE_REMOVE;
            },
            this);
    } else if (choice == WindowChoice::Gtk) {
        std::fprintf(stderr, "brenvo: GTK cannot start here; using the terminal window.\n");
    }
#else
    if (choice == WindowChoice::Gtk)
        std::fprintf(stderr, "brenvo: built without the GTK window; using the terminal window.\n");
#endif
#ifdef BRENVO_TOOL_WITH_QT
    if (choice == WindowChoice::Qt && qtApplication()) {
        impl.qt = true;
        // The toolkit's window and loop as any host gets them; answering by itself on top.
        attachQtHost(impl.services, nullptr);
        if (impl.options.answer)
            registerToolWindow(impl.windows, impl.options,
                               [](ReleaseWindowOwner& owner, RunLoop& loop) {
                                   return makeQtReleaseWindow(owner, loop);
                               });
    } else if (choice == WindowChoice::Qt) {
        std::fprintf(stderr, "brenvo: Qt cannot start here; using the terminal window.\n");
    }
#else
    if (choice == WindowChoice::Qt)
        std::fprintf(stderr, "brenvo: built without the Qt window; using the terminal window.\n");
#endif
#ifdef BRENVO_TOOL_WITH_GLIB
    // Without a notification service the factory gives no window, and the terminal one is used.
    if (choice == WindowChoice::Notification) {
        Log& log = impl.log;
        registerToolWindow(impl.windows, impl.options,
                           [&log](ReleaseWindowOwner& owner, RunLoop& loop) {
                               return makeNotificationWindow(owner, loop, log);
                           });
    }
#else
    if (choice == WindowChoice::Notification)
        std::fprintf(stderr,
                     "brenvo: built without desktop notifications; using the terminal window.\n");
#endif
    if (!impl.gtk) {
        impl.loop.watchReadable(impl.signals.fd(), [this] {
            impl_->signalled = true;
            quit();
        });
    }

    NotificationCenter::defaultCenter().addObserver(
        this,
        [this](const Notification&) {
            Impl& self = *impl_;
            // The closing controller still counts; it is destroyed on a later pass.
            self.windowsBeforeClose = BrenvoReleaseInfo::liveControllers();
            if (!self.waitingForWindows)
                return;
            auto later = Timer::timerWithTimeInterval(0, [this] { quitWhenWindowsAreGone(); });
            self.loop.addTimer(later, kDefaultRunLoopMode);
        },
        kBrenvoReleaseWindowClosed, nullptr);
}

Host::~Host() {
    NotificationCenter::defaultCenter().removeObserver(this);
#ifdef BRENVO_TOOL_WITH_GTK
    if (impl_->signalSource)
        g_source_remove(impl_->signalSource);
    if (impl_->gtk)
        detachGtkHost(impl_->services);
    if (impl_->mainLoop)
        g_main_loop_unref(impl_->mainLoop);
#endif
#ifdef BRENVO_TOOL_WITH_QT
    if (impl_->qt)
        detachQtHost(impl_->services);
#endif
}

Services& Host::services() {
    return impl_->services;
}

bool Host::usesGtk() const {
    return impl_->gtk;
}

bool Host::run() {
    Impl& impl = *impl_;
#ifdef BRENVO_TOOL_WITH_GTK
    if (impl.gtk) {
        g_main_loop_run(impl.mainLoop);
        return impl.signalled;
    }
#endif
#ifdef BRENVO_TOOL_WITH_QT
    if (impl.qt) {
        QApplication::exec();
        return impl.signalled;
    }
#endif
    impl.loop.run();
    return impl.signalled;
}

void Host::quit() {
#ifdef BRENVO_TOOL_WITH_GTK
    if (impl_->gtk) {
        g_main_loop_quit(impl_->mainLoop);
        return;
    }
#endif
#ifdef BRENVO_TOOL_WITH_QT
    if (impl_->qt) {
        QCoreApplication::quit();
        return;
    }
#endif
    impl_->loop.quit();
}

void Host::quitWhenWindowsAreGone() {
    Impl& impl = *impl_;
    const size_t live = BrenvoReleaseInfo::liveControllers();
    if (live == 0) {
        impl.waitingForWindows = false;
        quit();
        return;
    }
    impl.waitingForWindows = true;
    // A window that has just closed is destroyed on one of the next passes: look again then.
    // An open window is waited for through the close notification instead.
    if (impl.windowsBeforeClose > 0 && live >= impl.windowsBeforeClose) {
        auto later = Timer::timerWithTimeInterval(0, [this] { quitWhenWindowsAreGone(); });
        impl.loop.addTimer(later, kDefaultRunLoopMode);
    } else {
        impl.windowsBeforeClose = 0;
    }
}

std::optional<OperatingSystemVersion> parseSystemVersion(const std::string& text) {
    int32_t parts[3] = {0, 0, 0};
    size_t count = 0;
    const char* at = text.data();
    const char* end = text.data() + text.size();
    while (true) {
        if (count == 3 || at == end || *at < '0' || *at > '9')
            return std::nullopt;
        auto [next, error] = std::from_chars(at, end, parts[count]);
        if (error != std::errc() || parts[count] < 0)
            return std::nullopt;
        ++count;
        at = next;
        if (at == end)
            break;
        if (*at != '.')
            return std::nullopt;
        ++at;
    }
    return OperatingSystemVersion{parts[0], parts[1], parts[2]};
}

std::optional<WindowChoice> parseWindowChoice(const std::string& text) {
    if (text == "terminal")
        return WindowChoice::Terminal;
    if (text == "gtk")
        return WindowChoice::Gtk;
    if (text == "qt")
        return WindowChoice::Qt;
    if (text == "notification")
        return WindowChoice::Notification;
    return std::nullopt;
}

} // namespace brenvo::tool
