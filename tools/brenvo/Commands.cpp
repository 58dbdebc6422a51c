#include "Commands.h"

#include "Host.h"
#include "Signals.h"
#include "StoreServer.h"

#include "brenvo/Brenvo.h"
#include "brenvo/BrenvoKeys.h"
#include "brenvo/BrenvoReleaseInfo.h"
#include "brenvo/platform/Log.h"
#include "brenvo/platform/linux/InfoPlistBundle.h"
#include "brenvo/platform/linux/PlistFile.h"
#include "brenvo/platform/linux/PlistUserDefaults.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

namespace brenvo::tool {

namespace fs = std::filesystem;
using platform::PlistDictionary;
using platform::PlistValue;

const char* const kDemoHelp =
    R"(usage: brenvo demo [--answer open|skip|close] [--window terminal|gtk|qt|notification]

Shows what Brenvo does for an application. It starts a local store that offers version 2.1.0
of "Sample Notes", writes an Info.plist for Sample Notes 2.0.3 that points the agent at that
store, and runs the update agent as the application would. The agent finds the newer version
and shows the release window: a GTK window when a display is available, else in the terminal.
The demo ends when the window has closed and prints where the preferences were written.

  --answer ANSWER   answer the window by itself: open, skip or close (no URL is launched)
  --window KIND     terminal, gtk, qt or notification (default: gtk when a display
                    is available)
)";

const char* const kCheckHelp =
    R"(usage: brenvo check --info-plist FILE [--defaults FILE] [--os-version X.Y.Z] [--user]
                    [--answer open|skip|close] [--window terminal|gtk|qt|notification]

Runs one update check for the application whose Info.plist is FILE, as the application would:
the agent starts and checks (at once, whatever its schedule says); when the store offers a
newer version that was not skipped it shows the release window and the check waits until the
window has closed. Debug messages are on whatever the Info.plist says; log lines go to
standard error.

  --info-plist FILE   the application's Info.plist (XML or binary)
  --defaults FILE     the preferences file to read and update (default: a fresh temporary
                      file, removed afterwards, so your own preferences stay untouched)
  --os-version X.Y.Z  the system version the window sees (default: unknown, as on Linux)
  --user              check as "Check for Updates..." does: a version skipped earlier is shown
  --answer ANSWER     answer the window by itself: open, skip or close; the window's texts are
                      printed on standard output and no URL is launched
  --window KIND       terminal, gtk, qt or notification (default: gtk when a display
                      is available)

Every URL handed to the system is printed on standard output as "open: <url>". The last line
on standard output names how the check ended:
  outcome: update-available VERSION
  outcome: up-to-date VERSION
  outcome: skipped VERSION
  outcome: held-back minimum-release-age VERSION
  outcome: held-back minimum-os-version VERSION
  outcome: no-reply REASON
  outcome: unusable-reply REASON
  outcome: not-configured
  outcome: rate-limited SECONDS   (the store's Retry-After, or the wait until the next check)
  outcome: disabled policy|environment   (brenvo/policy.conf or BRENVO_DISABLE: nothing sent)
  outcome: managed flatpak|snap   (the package manager brings updates; --user checks anyway)
Exit status: 0 when the check ran, 1 when it could not run (no "BrenvoAppId", an unreadable
Info.plist), 2 for a usage error.
)";

const char* const kRunHelp =
    R"(usage: brenvo run --info-plist FILE [--defaults FILE] [--debug]
                  [--window terminal|gtk|qt|notification]

Runs the update agent for the application whose Info.plist is FILE until interrupted (Ctrl-C
or SIGTERM), exactly as the application would: checks follow "BrenvoInterval" and the last
check recorded in the preferences, and a newer version shows the release window.

  --info-plist FILE   the application's Info.plist (XML or binary)
  --defaults FILE     the preferences file (default: the application's own,
                      $XDG_CONFIG_HOME/<CFBundleIdentifier>/<CFBundleIdentifier>.plist)
  --window KIND       terminal, gtk, qt or notification (default: gtk when a display
                      is available)
  --debug             debug messages on, whatever the Info.plist says

Every URL handed to the system is printed on standard output as "open: <url>".
)";

const char* const kServeStoreHelp =
    R"(usage: brenvo serve-store --version V [--notes TEXT] [--name NAME] [--port N]
                          [--reply FILE]

Answers store lookups on 127.0.0.1, so you can see your application's update window without
publishing anything. Prints the URL prefix to put under "BrenvoCastUrl" in your application's
Info.plist, then serves until interrupted (Ctrl-C or SIGTERM). Every id gets the same release.

  --version V    the version the store offers
  --notes TEXT   its release notes (default: a short sample)
  --name NAME    the application's name in the reply (default: "Sample App")
  --port N       the port to listen on (default: a free one)
  --reply FILE   serve the contents of FILE as the reply instead (--version is then optional)
)";

namespace {

constexpr const char* kSampleNotes = "What's new in Sample Notes 2.1:\n"
                                     "\n"
                                     "- Pin notes to the top of the list.\n"
                                     "- Search now finds words inside attachments.\n"
                                     "- Fixed a crash when importing very large text files.\n"
                                     "- Sync is more reliable on slow networks.";

void say(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

// `path` made absolute, so the log and the file operations do not depend on the folder.
fs::path absolutePath(const fs::path& path) {
    std::error_code error;
    fs::path absolute = fs::absolute(path, error);
    return error ? path : absolute;
}

// A new private folder under $TMPDIR (or /tmp); empty on failure.
fs::path makeTemporaryFolder(const std::string& prefix) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = (fs::path(base && *base ? base : "/tmp") / (prefix + "-XXXXXX")).string();
    if (!::mkdtemp(pattern.data()))
        return {};
    return fs::path(pattern);
}

// The Info.plist must be a readable dictionary: anything else is the user's mistake to see.
bool checkInfoPlist(const std::string& command, const fs::path& path) {
    std::string why;
    auto info = platform::readPropertyListFile(path, &why);
    if (!info) {
        complain(command, "cannot read " + path.string() + ": " + why);
        return false;
    }
    if (!info->asDictionary()) {
        complain(command, path.string() + " is not a dictionary property list");
        return false;
    }
    return true;
}

struct AgentOptions {
    std::string infoPlist; // empty for the demo, which writes its own
    std::optional<platform::WindowAnswer> answer;
    WindowChoice window = WindowChoice::Auto;
};

// Reads what check, run and demo share: no positional argument, --info-plist when
// `needsInfoPlist`, --answer and --window. False after a usage error has been printed, with the
// exit status in `status`.
bool readAgentOptions(const std::string& command, const Arguments& arguments, bool needsInfoPlist,
                      AgentOptions& options, int& status) {
    if (!arguments.positional.empty()) {
        status = usageError(command, "unexpected argument \"" + arguments.positional[0] + "\"");
        return false;
    }
    if (needsInfoPlist) {
        auto infoPlist = arguments.value("info-plist");
        if (!infoPlist || infoPlist->empty()) {
            status = usageError(command, "--info-plist FILE is required");
            return false;
        }
        options.infoPlist = *infoPlist;
    }
    if (auto answer = arguments.value("answer")) {
        options.answer = platform::windowAnswerFromString(*answer);
        if (!options.answer) {
            status = usageError(command, "--answer takes open, skip or close");
            return false;
        }
    }
    if (auto window = arguments.value("window")) {
        auto choice = parseWindowChoice(*window);
        if (!choice) {
            status = usageError(command, "--window takes terminal, gtk, qt or notification");
            return false;
        }
        options.window = *choice;
    }
    return true;
}

std::string listPreferences(const fs::path& path) {
    auto values = platform::readPropertyListFile(path, nullptr);
    if (!values || !values->asDictionary())
        return "  (nothing stored)\n";
    std::string text;
    for (const auto& [key, value] : *values->asDictionary())
        text += "  " + key + " = " + value.description() + "\n";
    return text;
}

} // namespace

int usageError(const std::string& command, const std::string& message) {
    std::fprintf(stderr, "brenvo %s: %s\nRun \"brenvo %s --help\" for its options.\n",
                 command.c_str(), message.c_str(), command.c_str());
    return 2;
}

void complain(const std::string& command, const std::string& text) {
    std::fprintf(stderr, "brenvo %s: %s\n", command.c_str(), text.c_str());
}

int runCheck(const Arguments& arguments) {
    const std::string command = "check";
    AgentOptions agentOptions;
    int status = 0;
    if (!readAgentOptions(command, arguments, true, agentOptions, status))
        return status;
    const std::string& infoPlist = agentOptions.infoPlist;
    std::optional<platform::OperatingSystemVersion> systemVersion;
    if (auto text = arguments.value("os-version")) {
        systemVersion = parseSystemVersion(*text);
        if (!systemVersion)
            return usageError(command, "--os-version takes a version such as 10.15.7");
    }
    if (!checkInfoPlist(command, infoPlist))
        return 1;

    fs::path temporary;
    fs::path defaults;
    if (auto given = arguments.value("defaults")) {
        defaults = *given;
    } else {
        temporary = makeTemporaryFolder("brenvo-check");
        if (temporary.empty()) {
            complain(command, "cannot create a temporary folder for the preferences");
            return 1;
        }
        defaults = temporary / "preferences.plist";
    }

    bool signalled = false;
    std::optional<CheckOutcome> outcome;
    {
        HostOptions options;
        options.infoPlist = absolutePath(infoPlist);
        options.defaults = absolutePath(defaults);
        options.forceDebugMessages = true;
        options.systemVersion = systemVersion;
        options.answer = agentOptions.answer;
        options.window = agentOptions.window;
        Host host(std::move(options));
        Brenvo agent(host.services());
        if (!host.services().mainBundle.objectForInfoDictionaryKey(kBrenvoAppId)) {
            outcome = CheckOutcome{};
        } else {
            // The check runs now, in place of the one the agent armed (which may be due only
            // later); it is the agent's own check. Once it has decided, the tool waits for the
            // window it shows, if any.
            auto first = bvMasCheckMasUpdateTimer;
            if (first && first->isValid()) {
                if (first->timeInterval() > 0)
                    std::fprintf(stderr, "brenvo check: checking now instead of in %.0f seconds.\n",
                                 first->timeInterval());
                first->invalidate();
            }
            agent.setOutcomeObserver([&](const CheckOutcome& ended) {
                outcome = ended;
                // The window, if any, is created right after this: look once it is there.
                host.services().runLoop.addTimer(platform::Timer::timerWithTimeInterval(
                                                     0, [&host] { host.quitWhenWindowsAreGone(); }),
                                                 platform::kDefaultRunLoopMode);
            });
            const bool user = arguments.flags.count("user") > 0;
            auto checkNow = [&agent, user] {
                if (user)
                    agent.checkForUpdates();
                else
                    agent.bvMasCheckMasUpdates();
            };
            host.services().runLoop.addTimer(platform::Timer::timerWithTimeInterval(0, checkNow),
                                             platform::kDefaultRunLoopMode);
            signalled = host.run();
        }
    }
    if (!temporary.empty()) {
        std::error_code ignored;
        fs::remove_all(temporary, ignored);
    }
    if (outcome)
        say("outcome: " + describeOutcome(*outcome) + "\n");
    if (outcome && outcome->kind == CheckOutcome::Kind::NotConfigured)
        return 1;
    return signalled ? 130 : 0;
}

int runRun(const Arguments& arguments) {
    const std::string command = "run";
    AgentOptions agentOptions;
    int status = 0;
    if (!readAgentOptions(command, arguments, true, agentOptions, status))
        return status;
    const std::string& infoPlist = agentOptions.infoPlist;
    if (!checkInfoPlist(command, infoPlist))
        return 1;

    fs::path defaults;
    if (auto given = arguments.value("defaults")) {
        defaults = *given;
    } else {
        platform::SystemLog log;
        platform::InfoPlistBundle bundle(infoPlist, log);
        defaults = platform::PlistUserDefaults::defaultPath(bundle);
        if (defaults.empty()) {
            complain(command, "no home folder for the preferences; give --defaults FILE");
            return 1;
        }
    }

    HostOptions options;
    options.infoPlist = absolutePath(infoPlist);
    options.defaults = absolutePath(defaults);
    options.forceDebugMessages = arguments.flags.count("debug") > 0;
    options.window = agentOptions.window;
    Host host(std::move(options));
    std::fprintf(stderr, "brenvo run: preferences in %s; Ctrl-C stops.\n", defaults.c_str());
    Brenvo agent(host.services());
    if (!host.services().mainBundle.objectForInfoDictionaryKey(kBrenvoAppId))
        return 1;
    host.run();
    return 0;
}

int runDemo(const Arguments& arguments) {
    const std::string command = "demo";
    AgentOptions agentOptions;
    int status = 0;
    if (!readAgentOptions(command, arguments, false, agentOptions, status))
        return status;

    const fs::path folder = makeTemporaryFolder("brenvo-demo");
    if (folder.empty()) {
        complain(command, "cannot create a temporary folder");
        return 1;
    }
    StoreRelease release;
    release.version = "2.1.0";
    release.releaseNotes = kSampleNotes;
    release.trackName = "Sample Notes";
    release.bundleId = "org.example.SampleNotes";
    StoreServer store(release, std::nullopt);
    std::string error;
    if (!store.start(0, error)) {
        complain(command, error);
        return 1;
    }

    const fs::path infoPlist = folder / "Info.plist";
    const fs::path defaults = folder / "org.example.SampleNotes.plist";
    PlistDictionary info = {
        {"CFBundleName", PlistValue("Sample Notes")},
        {"CFBundleIdentifier", PlistValue("org.example.SampleNotes")},
        {"CFBundleExecutable", PlistValue("sample-notes")},
        {"CFBundleShortVersionString", PlistValue("2.0.3")},
        {"CFBundleVersion", PlistValue("203")},
        {"BrenvoAppId", PlistValue("1234567890")},
        {"BrenvoCastUrl", PlistValue(store.castUrl())},
        {"BrenvoDebugMessages", PlistValue(true)},
        {"BrenvoInterval", PlistValue(86400)},
    };
    if (!platform::writePropertyListFile(PlistValue(info), infoPlist, platform::PlistFormat::XML,
                                         &error)) {
        complain(command, "cannot write " + infoPlist.string() + ": " + error);
        return 1;
    }
    say("Sample Notes 2.0.3 is checking for updates; the store at " + store.castUrl() +
        " offers 2.1.0.\n");

    bool shown = true;
    bool signalled = false;
    {
        HostOptions options;
        options.infoPlist = infoPlist;
        options.defaults = defaults;
        options.answer = agentOptions.answer;
        options.window = agentOptions.window;
        options.answerDelay = 2.0;
        Host host(std::move(options));
        Brenvo agent(host.services());
        agent.setOutcomeObserver([&host, &shown](const CheckOutcome& outcome) {
            shown = outcome.kind == CheckOutcome::Kind::UpdateAvailable;
            // The window is created right after this: wait for it once it is there.
            host.services().runLoop.addTimer(platform::Timer::timerWithTimeInterval(
                                                 0, [&host] { host.quitWhenWindowsAreGone(); }),
                                             platform::kDefaultRunLoopMode);
        });
        signalled = host.run();
    }
    store.stop();

    say("\nThe preferences of Sample Notes are in " + defaults.string() + ":\n" +
        listPreferences(defaults));
    say("Its Info.plist is " + infoPlist.string() + ".\n");
    if (signalled)
        return 130;
    if (!shown) {
        complain(command, "the check showed no window; see the log above");
        return 1;
    }
    return 0;
}

int runServeStore(const Arguments& arguments) {
    const std::string command = "serve-store";
    if (!arguments.positional.empty())
        return usageError(command, "unexpected argument \"" + arguments.positional[0] + "\"");
    auto version = arguments.value("version");
    auto replyFile = arguments.value("reply");
    if (!version && !replyFile)
        return usageError(command, "--version V is required");
    int port = 0;
    if (auto text = arguments.value("port")) {
        auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), port);
        if (error != std::errc() || end != text->data() + text->size() || port < 0 || port > 65535)
            return usageError(command, "--port takes a number from 0 to 65535");
    }

    std::optional<std::string> fixedReply;
    if (replyFile) {
        std::ifstream in(*replyFile, std::ios::binary);
        std::ostringstream contents;
        if (!in || !(contents << in.rdbuf())) {
            // An empty file is a valid (if useless) reply; only a failure to open is an error.
            if (!in.is_open()) {
                complain(command, "cannot read " + *replyFile);
                return 1;
            }
        }
        fixedReply = contents.str();
    }

    StoreRelease release;
    release.version = version.value_or("");
    release.releaseNotes = arguments.value("notes").value_or(
        "Bug fixes and improvements.\n\nThis release was served by brenvo serve-store.");
    if (auto name = arguments.value("name"))
        release.trackName = *name;

    SignalPipe signals; // before the server's threads start, so they inherit the handlers
    StoreServer store(release, fixedReply);
    std::string error;
    if (!store.start(port, error)) {
        complain(command, error);
        return 1;
    }
    say(store.castUrl() + "\n");
    if (fixedReply)
        std::fprintf(stderr, "Serving the contents of %s for every id.\n", replyFile->c_str());
    else
        std::fprintf(stderr, "Serving version %s of \"%s\" for every id.\n",
                     release.version.c_str(), release.trackName.c_str());
    std::fprintf(stderr, "Put the line above under \"BrenvoCastUrl\" in your Info.plist. "
                         "Ctrl-C stops.\n");
    signals.wait();
    store.stop();
    return 0;
}

} // namespace brenvo::tool
