// The terminal window: what it prints and how it reads the answer through the run loop.
#include "brenvo/CheckResultMessage.h"
#include "brenvo/platform/Clock.h"
#include "brenvo/platform/RunLoop.h"
#include "brenvo/platform/linux/TerminalWindow.h"
#include "support/ScopedLocale.h"
#include "support/TestServices.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using namespace brenvo::platform;
using namespace std::chrono_literals;
using brenvo::CheckOutcome;

namespace {

// The texts the controller hands a window, English.
ReleaseTexts demoTexts() {
    ReleaseTexts texts;
    texts.windowTitle = "Software Update";
    texts.titleText = "A new Version of Demo is available!";
    texts.descriptionText = "Demo 2.0 is now available - you have 1.0.";
    texts.releaseText = "Release Notes:";
    texts.releaseDetails = "- faster\n- safer";
    texts.setButtonTitles("Open App Store For Update", "Skip This Version");
    return texts;
}

// An owner that answers like the controller: both buttons close the window.
class RecordingOwner final : public ReleaseWindowOwner {
public:
    void awakeFromNib() override { events.push_back("awake"); }
    void doOpenMas() override {
        events.push_back("open");
        window->close();
    }
    void doSkip() override {
        events.push_back("skip");
        window->close();
    }
    void windowWillClose() override { events.push_back("close"); }

    Window* window = nullptr;
    std::vector<std::string> events;
};

struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() { EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0); }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    void closeRead() {
        if (fds[0] >= 0)
            ::close(fds[0]);
        fds[0] = -1;
    }
    void closeWrite() {
        if (fds[1] >= 0)
            ::close(fds[1]);
        fds[1] = -1;
    }
    void write(std::string_view text) {
        ASSERT_EQ(::write(fds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    std::string drain() {
        std::string out;
        ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
        char buffer[512];
        ssize_t n;
        while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
            out.append(buffer, static_cast<size_t>(n));
        return out;
    }
};

// A terminal window on a manual-clock loop, shown; `input` < 0 gives it no input pipe.
struct ShownWindow {
    ManualClock clock;
    RunLoop loop{clock};
    Pipe input, output;
    RecordingOwner owner;
    ReleaseTexts texts = demoTexts();
    std::unique_ptr<Window> window;
    explicit ShownWindow(std::optional<WindowAnswer> answer = std::nullopt, bool withInput = true) {
        window =
            makeTerminalWindow(owner, loop, {withInput ? input.fds[0] : -1, output.fds[1], answer});
        EXPECT_TRUE(window);
        owner.window = window.get();
        if (window)
            window->showWindow(texts);
    }
};

struct AnswerCase {
    const char* input;                // written to the window's input
    bool endInput;                    // then the input is closed
    std::optional<WindowAnswer> self; // the window answers by itself, without input
    std::vector<std::string> events;
};

class TerminalAnswers : public testing::TestWithParam<AnswerCase> {};

TEST_P(TerminalAnswers, ReadLineDecides) {
    const AnswerCase& c = GetParam();
    ShownWindow w(c.self, !c.self);
    // A window answering by itself waits for the loop's next pass.
    EXPECT_EQ(w.owner.events, std::vector<std::string>{"awake"});
    if (!c.self) {
        w.input.write(c.input);
        if (c.endInput)
            w.input.closeWrite();
    }
    w.loop.runMode(kDefaultRunLoopMode, 10s);
    EXPECT_EQ(w.owner.events, c.events);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, TerminalAnswers,
    testing::Values(AnswerCase{"o\n", false, std::nullopt, {"awake", "open", "close"}},
                    AnswerCase{"  S \r\n", false, std::nullopt, {"awake", "skip", "close"}},
                    AnswerCase{"skip\nopen\n", false, std::nullopt, {"awake", "skip", "close"}},
                    AnswerCase{"open", true, std::nullopt, {"awake", "open", "close"}},
                    AnswerCase{"sure\n", false, std::nullopt, {"awake", "close"}},
                    AnswerCase{"", true, std::nullopt, {"awake", "close"}},
                    AnswerCase{"s", false, std::nullopt, {"awake"}}, // half a line: still waiting
                    AnswerCase{"", false, WindowAnswer::Open, {"awake", "open", "close"}},
                    AnswerCase{"", false, WindowAnswer::Skip, {"awake", "skip", "close"}},
                    AnswerCase{"", false, WindowAnswer::Close, {"awake", "close"}}));

TEST(TerminalWindow, PrintsEveryTextThenTheButtons) {
    ShownWindow w;
    EXPECT_EQ(w.output.drain(), "== Software Update ==\n\n"
                                "A new Version of Demo is available!\n\n"
                                "Demo 2.0 is now available - you have 1.0.\n\n"
                                "Release Notes:\n  +--------\n  | - faster\n  | - safer\n"
                                "  +--------\n\n"
                                "  [o] Open App Store For Update\n"
                                "  [s] Skip This Version\n"
                                "  [anything else] Close\n> ");
}

// The store's words never act on the terminal: escape sequences, bells, carriage returns,
// backspaces, C1 and bidirectional controls are shown as escapes; the notes keep their lines.
TEST(TerminalWindow, ShowsTheStoresTextAsText) {
    ShownWindow w(WindowAnswer::Close, false);
    w.output.drain();
    w.texts.descriptionText = "Demo 2.0\x1B]0;pwned\x07\r\b\b is now available\xE2\x80\xAE.";
    w.texts.releaseDetails = "- faster\n\t- safer\x1B[2J\xC2\x9B"
                             "31m";
    EXPECT_EQ(releaseWindowText(w.texts),
              "== Software Update ==\n\n"
              "A new Version of Demo is available!\n\n"
              "Demo 2.0\\x1B]0;pwned\\x07\\r\\x08\\x08 is now "
              "available\\u202E.\n\n"
              "Release Notes:\n  +--------\n  | - faster\n  | \t- safer\\x1B[2J\\u009B31m\n"
              "  +--------\n\n"
              "  [o] Open App Store For Update\n"
              "  [s] Skip This Version\n");
}

// Notes that imitate the window's own lines stay inside the rules, behind the gutter; notes
// beyond what a window shows are cut with "…".
TEST(TerminalWindow, NotesStayInsideTheirRules) {
    const std::string kMenu = "\n  [o] Open App Store For Update\n  [s] Skip This Version\n";
    ShownWindow w(WindowAnswer::Close, false);
    const struct {
        std::optional<std::string> notes;
        std::string shown; // between the heading and the menu
    } cases[] = {
        {"Fixes.\n  +--------\n" + kMenu + "> ",
         "  +--------\n  | Fixes.\n  |   +--------\n  | \n  |   [o] Open App Store For Update\n"
         "  |   [s] Skip This Version\n  | > \n  +--------\n"},
        {"Fixes.\n", "  +--------\n  | Fixes.\n  +--------\n"},
        {"", "  +--------\n  +--------\n"},
        {std::nullopt, ""},
        {std::string(70'000, 'x'),
         "  +--------\n  | " + std::string(kMaxShownReleaseNotes, 'x') + "\u2026\n  +--------\n"},
    };
    for (const auto& c : cases) {
        w.texts.releaseDetails = c.notes;
        const std::string text = releaseWindowText(w.texts);
        const size_t heading =
            text.find("Release Notes:\n") + std::string("Release Notes:\n").size();
        EXPECT_EQ(text.substr(heading), c.shown + kMenu)
            << c.notes.value_or("(none)").substr(0, 40);
    }
}

TEST(TerminalWindow, SilentInputNeverStallsTheLoop) {
    ShownWindow w;
    bool fired = false;
    w.loop.addTimer(Timer::timerWithTimeInterval(3600,
                                                 [&] {
                                                     fired = true;
                                                     w.loop.quit();
                                                 }),
                    kDefaultRunLoopMode);
    w.loop.run();
    EXPECT_TRUE(fired);
    EXPECT_EQ(w.owner.events, std::vector<std::string>{"awake"});
    // Closed from elsewhere: the owner hears of it once, and input no longer reaches it.
    w.window->close();
    w.window->close();
    w.input.write("o\n");
    w.loop.runMode(kDefaultRunLoopMode, 1s);
    EXPECT_EQ(w.owner.events, (std::vector<std::string>{"awake", "close"}));
}

TEST(TerminalWindow, RefusesClosedDescriptors) {
    ManualClock clock;
    RunLoop loop(clock);
    RecordingOwner owner;
    Pipe pipe;
    int closedFd = ::dup(pipe.fds[0]);
    ::close(closedFd);
    EXPECT_FALSE(makeTerminalWindow(owner, loop, {pipe.fds[0], closedFd, std::nullopt}));
    EXPECT_FALSE(makeTerminalWindow(owner, loop, {closedFd, pipe.fds[1], std::nullopt}));
    EXPECT_TRUE(makeTerminalWindow(owner, loop, {closedFd, pipe.fds[1], WindowAnswer::Skip}));
    EXPECT_EQ(windowAnswerFromString("skip"), WindowAnswer::Skip);
    EXPECT_EQ(windowAnswerFromString("Skip"), std::nullopt);
}

// The answer to "Check for Updates…" is one line, in the host's language, and the window closes
// as it is printed.
TEST(TerminalWindow, PrintsACheckResultAsOneLine) {
    const struct {
        const char* lang;
        CheckOutcome::Kind kind;
        std::string line;
    } cases[] = {
        {"en_US.UTF-8", CheckOutcome::Kind::UpToDate,
         "Your version is current \u2014 Brenvo Test 1.0 is the newest version in the App "
         "Store.\n"},
        {"de_DE.UTF-8", CheckOutcome::Kind::NoReply,
         "Die Suche nach Updates ist fehlgeschlagen \u2014 Es besteht keine Verbindung zum App "
         "Store.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        brenvo::test::ScopedLocale locale(c.lang);
        brenvo::test::TestServices test;
        std::filesystem::create_directories(test.resourcesPath() / "de.lproj");
        Pipe output, input;
        registerTerminalWindow(test.windows, {input.fds[0], output.fds[1], std::nullopt, false});
        brenvo::CheckResultMessage message(test.services);
        CheckOutcome outcome;
        outcome.kind = c.kind;
        ASSERT_TRUE(message.show(*brenvo::checkResultTexts(outcome, test.mainBundle), false));
        EXPECT_FALSE(message.isShown());
        EXPECT_EQ(output.drain(), c.line);
    }
}

} // namespace
