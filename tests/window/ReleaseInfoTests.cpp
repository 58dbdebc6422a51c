// The release-info window controller with a scripted window on real Info.plist, strings and
// defaults files.
#include "brenvo/Brenvo.h"
#include "brenvo/BrenvoKeys.h"
#include "brenvo/BrenvoReleaseInfo.h"
#include "brenvo/platform/linux/TerminalWindow.h"
#include "support/ScopedLocale.h"
#include "support/ScriptedWindow.h"
#include "support/TestServices.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <pty.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using brenvo::test::ScopedLocale;

using brenvo::BrenvoReleaseInfo;
using brenvo::JsonValue;
using brenvo::test::ScriptedWindow;
namespace platform = brenvo::platform;
using platform::WindowAnswer;

constexpr const char* kWebPage = "https://www.apple.com/mac/app-store/";
constexpr const char* kFrontPage = "macappstore://itunes.apple.com/";
constexpr const char* kUpdatesPage = "macappstore://showUpdatesPage/";

class ReleaseInfo : public testing::Test {
protected:
    void SetUp() override {
        test_.setInfo("CFBundleName", "Demo");
        test_.setInfo("CFBundleShortVersionString", "1.0");
        test_.center.addObserver(
            this,
            [this](const platform::Notification& note) {
                EXPECT_EQ(note.object, nullptr);
                // What a fresh reader of the defaults file sees while the notice is posted.
                brenvo::test::CapturingLog log;
                platform::PlistUserDefaults reread(test_.defaultsPath(), log);
                skipSeenAtClose_.push_back(
                    reread.stringForKey(brenvo::kBrenvoSkipVersion).value_or("-"));
            },
            brenvo::kBrenvoReleaseWindowClosed, nullptr);
    }
    void TearDown() override {
        test_.center.removeObserver(this);
        EXPECT_EQ(BrenvoReleaseInfo::liveControllers(), 0u);
    }

    static JsonValue record(std::optional<const char*> version) {
        JsonValue value =
            JsonValue::object({{"releaseNotes", "Fixes.\n\"Quoted\" %@ <b>"}, {"trackId", 42}});
        if (version)
            value.asObject()->set(std::string_view("version"), JsonValue(*version));
        return value;
    }

    void runLoop() {
        test_.runLoop.runMode(platform::kDefaultRunLoopMode, std::chrono::seconds(5));
    }

    brenvo::test::TestServices test_;
    std::vector<std::string> skipSeenAtClose_;
};

TEST_F(ReleaseInfo, SkipWritesTheVersionBeforeTheNotice) {
    struct Case {
        std::optional<const char*> earlier;
        std::optional<const char*> version;
        const char* stored; // "-": nothing
    } cases[] = {
        {std::nullopt, "2.0", "2.0"},
        {"1.5", "2.0.1 beta", "2.0.1 beta"}, // replaces the earlier one
        {"1.5", std::nullopt, "1.5"},        // no version: the earlier one stays
        {std::nullopt, std::nullopt, "-"},
    };
    for (const auto& c : cases) {
        skipSeenAtClose_.clear();
        test_.defaults.removeObjectForKey(brenvo::kBrenvoSkipVersion);
        if (c.earlier)
            test_.defaults.setObject(platform::PlistValue(*c.earlier), brenvo::kBrenvoSkipVersion);
        ASSERT_TRUE(test_.defaults.synchronize());
        ScriptedWindow windows(WindowAnswer::Skip);
        test_.windows.unregisterWindows(platform::kReleaseInfoWindow);
        windows.registerWith(test_.windows);
        BrenvoReleaseInfo::initWithReleaseInfo(record(c.version), test_.services);
        runLoop();
        EXPECT_EQ(skipSeenAtClose_, std::vector<std::string>{c.stored});
        EXPECT_TRUE(test_.workspace.openedURLs().empty());
        ASSERT_EQ(windows.shown().size(), 1u);
        EXPECT_EQ(windows.shown()[0].willCloseCalls, 1);
        EXPECT_TRUE(windows.shown()[0].destroyed);
    }
}

TEST_F(ReleaseInfo, OpenChoosesTheStoreAddressBySystemVersion) {
    struct Case {
        std::optional<platform::OperatingSystemVersion> version;
        const char* address;
    } cases[] = {
        {platform::OperatingSystemVersion{10, 5, 8}, kWebPage},
        {platform::OperatingSystemVersion{10, 6, 5}, kWebPage},
        {platform::OperatingSystemVersion{10, 6, 6}, kFrontPage},
        {platform::OperatingSystemVersion{10, 6, 8}, kFrontPage},
        {platform::OperatingSystemVersion{10, 7, 0}, kUpdatesPage},
        {platform::OperatingSystemVersion{10, 15, 7}, kUpdatesPage},
        {platform::OperatingSystemVersion{11, 0, 0}, kUpdatesPage},
        {platform::OperatingSystemVersion{9, 9, 9}, kWebPage},
        {std::nullopt, kWebPage}, // cannot be read
    };
    ScriptedWindow windows(WindowAnswer::Open);
    windows.registerWith(test_.windows);
    std::vector<std::string> expected;
    for (const auto& c : cases) {
        test_.systemVersion.setVersion(c.version);
        BrenvoReleaseInfo::initWithReleaseInfo(record("2.0"), test_.services);
        runLoop();
        expected.push_back(c.address);
    }
    EXPECT_EQ(test_.workspace.openedURLs(), expected);
    EXPECT_EQ(skipSeenAtClose_.size(), std::size(cases)); // one notice per window
    EXPECT_FALSE(test_.defaults.objectForKey(brenvo::kBrenvoSkipVersion));
}

// Where the store application is out of reach, "Open" opens the record's page only on the
// store's hosts or an https cast URL's host; any other page gives the store's web page and a
// debug line that says why.
TEST_F(ReleaseInfo, OpenTakesTheRecordsPageOnlyFromTrustedHosts) {
    const std::string kStorePage = "https://apps.apple.com/us/app/demo/id123456?mt=12";
    const std::string kOwnPage = "https://downloads.example.org/demo/2.0";
    const std::string kNeither = "its host is neither the store's nor that of an https "
                                 "BrenvoCastUrl";
    const struct {
        std::optional<std::string> page;
        std::optional<std::string> castUrl;
        bool opened;     // the page itself, else the store's web page
        std::string why; // of the debug line, when a page was refused
    } cases[] = {
        {kStorePage, std::nullopt, true, ""},
        {"HTTPS://Itunes.Apple.COM:443/app/id1", std::nullopt, true, ""},
        {kOwnPage, "https://downloads.example.org/lookup?id=", true, ""},
        {kOwnPage, "http://downloads.example.org/lookup?id=", false, kNeither},
        {"https://evil.example/fake-update.AppImage", std::nullopt, false, kNeither},
        {"https://apps.apple.com.evil.example/", std::nullopt, false, kNeither},
        {"https://apps.example.org@evil.example/", std::nullopt, false,
         "it names user information"},
        {"https://evil.example\\@apps.apple.com/", std::nullopt, false,
         "it names user information"},
        {"https:///etc/passwd", std::nullopt, false, "it names no host"},
        {"https://apps.apple.com%2Eevil.example/", std::nullopt, false, "its host cannot be read"},
        {"http://apps.apple.com/app/id1", std::nullopt, false, "it is not an https URL"},
        {"file:///etc/passwd", "file:///etc/", false, "it is not an https URL"},
        {"https://apps.apple.com/a b", std::nullopt, false,
         "it holds a character other than visible ASCII"},
        {std::nullopt, std::nullopt, false, ""},
    };
    ScriptedWindow windows(WindowAnswer::Open);
    windows.registerWith(test_.windows);
    test_.systemVersion.setVersion(std::nullopt);
    test_.setInfo(brenvo::kBrenvoDebugMessages, true);
    for (const auto& c : cases) {
        const std::string name = c.page.value_or("(none)").substr(0, 60);
        if (c.castUrl)
            test_.setInfo(brenvo::kBrenvoCastUrl, *c.castUrl);
        else
            test_.removeInfo(brenvo::kBrenvoCastUrl);
        JsonValue withPage = record("2.0");
        if (c.page)
            withPage.asObject()->set(brenvo::kTrackViewUrl, JsonValue(*c.page));
        test_.log.clear();
        BrenvoReleaseInfo::initWithReleaseInfo(withPage, test_.services);
        runLoop();
        ASSERT_FALSE(test_.workspace.openedURLs().empty()) << name;
        EXPECT_EQ(test_.workspace.openedURLs().back(), c.opened ? *c.page : kWebPage) << name;
        std::vector<std::string> lines;
        if (!c.why.empty())
            lines.push_back("Brenvo: The release record's page " + *c.page +
                            " is not opened: " + c.why + ". Opening the store's web page instead.");
        EXPECT_EQ(test_.log.lines(), lines) << name;
    }
}

TEST_F(ReleaseInfo, AnyCloseNoticesOnceAndTheControllerGoes) {
    ScriptedWindow windows(std::nullopt);
    windows.registerWith(test_.windows);
    BrenvoReleaseInfo& controller =
        BrenvoReleaseInfo::initWithReleaseInfo(record("2.0"), test_.services);
    ASSERT_EQ(windows.shown().size(), 1u);
    const auto& shown = windows.shown()[0];
    EXPECT_EQ(shown.awakenings, 1);
    EXPECT_EQ(shown.activations, 1);
    EXPECT_EQ(shown.centerings, 1);
    EXPECT_EQ(shown.frontings, 1);
    ASSERT_TRUE(brenvo::updateItem);
    EXPECT_EQ(*brenvo::updateItem, record("2.0"));

    windows.closeByWindowManager();
    controller.releaseWindow()->close(); // closing twice is harmless
    controller.doSkip();                 // and a closed window's buttons do nothing
    controller.doOpenMas();
    EXPECT_EQ(skipSeenAtClose_, std::vector<std::string>{"-"});
    EXPECT_EQ(BrenvoReleaseInfo::liveControllers(), 1u); // not inside the window's own call
    runLoop();
    EXPECT_EQ(skipSeenAtClose_.size(), 1u);
    EXPECT_EQ(BrenvoReleaseInfo::liveControllers(), 0u);
    EXPECT_TRUE(windows.shown()[0].destroyed);
    EXPECT_FALSE(brenvo::updateItem);
    EXPECT_TRUE(test_.workspace.openedURLs().empty());
}

// Oversized store texts come as a window shows them: the notes cut at 64 KiB and the version at
// 256 bytes, on a character boundary with "…"; a version that long is never stored as skipped.
TEST_F(ReleaseInfo, OversizedTextsComeCutAsAWindowShowsThem) {
    const size_t limit = platform::kMaxShownReleaseNotes;
    const std::string a(limit, 'a');
    const struct {
        std::string in, out;
    } notes[] = {
        {"Fixes.", "Fixes."},
        {a, a},
        {a + "b", a + "\u2026"},
        {a.substr(1) + "\u00E9", a.substr(1) + "\u2026"}, // not half of the é
        {a + "\U0001F600", a + "\u2026"},                 // not half of the pair
        {std::string(3'900'000, 'x'), std::string(limit, 'x') + "\u2026"},
    };
    ScriptedWindow windows(WindowAnswer::Skip);
    windows.registerWith(test_.windows);
    for (const auto& c : notes) {
        BrenvoReleaseInfo& controller = BrenvoReleaseInfo::initWithReleaseInfo(
            JsonValue::object({{"version", std::string(300, '9')}, {"releaseNotes", c.in}}),
            test_.services);
        EXPECT_EQ(controller.releaseDetails(), c.out) << c.in.size();
        EXPECT_EQ(controller.descriptionText(), "Demo " + std::string(256, '9') +
                                                    "\u2026 is now available - you have 1.0. "
                                                    "Would you like to open App Store for "
                                                    "Update now?");
        runLoop();
    }
    EXPECT_EQ(skipSeenAtClose_, std::vector<std::string>(std::size(notes), "-"));
}

TEST_F(ReleaseInfo, EachControllerReleasesOnlyItsOwnRecord) {
    ScriptedWindow windows(std::nullopt);
    windows.registerWith(test_.windows);
    BrenvoReleaseInfo& first =
        BrenvoReleaseInfo::initWithReleaseInfo(record("2.0"), test_.services);
    BrenvoReleaseInfo::initWithReleaseInfo(record("3.0"), test_.services);
    first.releaseWindow()->close();
    runLoop();
    EXPECT_EQ(BrenvoReleaseInfo::liveControllers(), 1u);
    ASSERT_TRUE(brenvo::updateItem); // the second window's record stays
    EXPECT_EQ(*brenvo::updateItem, record("3.0"));
    windows.answer(WindowAnswer::Skip);
    runLoop();
    EXPECT_EQ(test_.defaults.stringForKey(brenvo::kBrenvoSkipVersion), "3.0");
    EXPECT_FALSE(brenvo::updateItem);
    EXPECT_EQ(skipSeenAtClose_, (std::vector<std::string>{"-", "3.0"}));
}

// The window's texts in order: title, heading, description, notes label, notes, buttons.
TEST_F(ReleaseInfo, TextsFromTheHostsTableOrTheEnglishKeys) {
    struct Case {
        const char* table; // the host's German Brenvo.strings; nullptr: none
        std::optional<const char*> appVersion, version;
        std::vector<std::optional<std::string>> texts;
    } cases[] = {
        {nullptr,
         std::nullopt,
         "2.0",
         {"Software Update", "A new Version of Demo is available!",
          // One text on two lines. NOLINTNEXTLINE(bugprone-suspicious-missing-comma)
          "Demo 2.0 is now available - you have (null). Would you like to open App Store for "
          "Update now?",
          "Release Notes:",
          "Fixes.\n\"Quoted\" %@ <b>", // unchanged, not a format
          "Open App Store For Update", "Skip This Version"}},
        {"/* Release window, German */\n"
         "\"Software Update\" = \"Softwareaktualisierung\";\n"
         "\"A new Version of %@ is available!\" = \"Eine neue Version von %@ ist verfügbar!\";\n"
         "\"%@ %@ is now available - you have %@. Would you like to open App Store for Update "
         "now?\" = \"Sie haben %3$@. %1$@ %2$@ ist jetzt verfügbar.\";\n"
         "\"Release Notes:\" = \"Versionshinweise:\";\n"
         "\"Skip This Version\" = \"Diese Version überspringen\";\n",
         "1.0",
         std::nullopt,
         {"Softwareaktualisierung", "Eine neue Version von Demo ist verfügbar!",
          "Sie haben 1.0. Demo (null) ist jetzt verfügbar.",
          "Versionshinweise:", "Fixes.\n\"Quoted\" %@ <b>",
          "App Store zum Aktualisieren öffnen", // not in the host's table: Brenvo's German
          "Diese Version überspringen"}},
    };
    ScopedLocale locale("de_DE.UTF-8");
    for (const auto& c : cases) {
        if (c.table)
            test_.dir.writeFile("App/Resources/de.lproj/Brenvo.strings", c.table);
        if (c.appVersion)
            test_.setInfo("CFBundleShortVersionString", *c.appVersion);
        else
            test_.removeInfo("CFBundleShortVersionString");
        ScriptedWindow windows(WindowAnswer::Close);
        test_.windows.unregisterWindows(platform::kReleaseInfoWindow);
        windows.registerWith(test_.windows);
        BrenvoReleaseInfo::initWithReleaseInfo(record(c.version), test_.services);
        runLoop();
        ASSERT_EQ(windows.shown().size(), 1u);
        const auto& shown = windows.shown()[0].texts;
        EXPECT_EQ((std::vector<std::optional<std::string>>{
                      shown.windowTitle, shown.titleText, shown.descriptionText, shown.releaseText,
                      shown.releaseDetails, shown.buttonTitleUpdateNow.text,
                      shown.buttonTitleUpdateSkip.text}),
                  c.texts);
    }
}

TEST(StringWithFormat, FillsPlaceholdersOnly) {
    struct Case {
        const char* format;
        std::vector<std::string> arguments;
        const char* expected;
    } cases[] = {
        {"%@ %@ / %@", {"Demo", "2.0", "1.0"}, "Demo 2.0 / 1.0"},
        {"%3$@-%1$@-%2$@", {"a", "b", "c"}, "c-a-b"},
        {"100%% %@ %d %s %", {"%@%s"}, "100% %@%s %d %s %"},
        {"%@ and %@ and %9$@", {"one"}, "one and (null) and (null)"},
        {"%0$@ %$@", {"x"}, "%0$@ %$@"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(brenvo::stringWithFormat(c.format, c.arguments), c.expected) << c.format;
}

// Each button takes the first ASCII letter or digit the other has not taken; the toolkit's own
// marker in a title stays literal; a title without a free letter gets its letter appended.
TEST(ButtonTitles, MnemonicsTakeFreeLettersAndKeepMarkersLiteral) {
    const struct {
        const char *now, *skip;
        char marker;
        const char *nowLabel, *skipLabel;
    } cases[] = {
        {"Open App Store For Update", "Skip This Version", '_', "_Open App Store For Update",
         "_Skip This Version"},
        {"Open", "Oops, skip", '&', "&Open", "Oo&ps, skip"},
        {"Save & Open", "Skip", '&', "&Save && Open", "S&kip"},
        {"_under", "x", '_', "___under", "_x"},
        {"アップデート", "スキップ", '_', "アップデート (_O)", "スキップ (_S)"},
        {"アップデート", "Open later", '&', "アップデート (&O)", "O&pen later"},
    };
    for (const auto& c : cases) {
        platform::ReleaseTexts texts;
        texts.setButtonTitles(c.now, c.skip);
        EXPECT_EQ(platform::withMnemonic(texts.buttonTitleUpdateNow, c.marker), c.nowLabel);
        EXPECT_EQ(platform::withMnemonic(texts.buttonTitleUpdateSkip, c.marker), c.skipLabel);
    }
}

// Standard input and output of the process replaced for one test.
class RedirectedTerminal {
public:
    RedirectedTerminal(int in, int out) : savedIn_(::dup(0)), savedOut_(::dup(1)) {
        ::dup2(in, 0);
        ::dup2(out, 1);
    }
    ~RedirectedTerminal() {
        ::dup2(savedIn_, 0);
        ::dup2(savedOut_, 1);
        ::close(savedIn_);
        ::close(savedOut_);
    }

private:
    int savedIn_, savedOut_;
};

// The terminal window is the fallback of the default services only for somebody at a terminal:
// an application started from a launcher (input at end of file, output to a log) gets no window
// nobody can see, and closes at once so the schedule goes on.
TEST_F(ReleaseInfo, TheTerminalIsAFallbackOnlyForSomebodyAtATerminal) {
    platform::TerminalWindowOptions fallback;
    fallback.onlyWhenInteractive = true;
    platform::registerTerminalWindow(test_.windows, fallback);
    ScriptedWindow windows(WindowAnswer::Open);
    windows.setRefuse(true); // no display, say
    windows.registerWith(test_.windows);

    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(::write(master, "s\n", 2), 2);
    {
        RedirectedTerminal terminal(slave, slave);
        BrenvoReleaseInfo::initWithReleaseInfo(record("2.0"), test_.services);
        runLoop();
    }
    char printed[8192];
    const ssize_t n = ::read(master, printed, sizeof printed);
    ASSERT_GT(n, 0);
    EXPECT_NE(std::string(printed, static_cast<size_t>(n)).find("[s] Skip This Version"),
              std::string::npos);
    EXPECT_EQ(skipSeenAtClose_, std::vector<std::string>{"2.0"});
    ::close(master);
    ::close(slave);

    int output[2];
    ASSERT_EQ(::pipe(output), 0);
    const int endOfInput = ::open("/dev/null", O_RDONLY);
    {
        RedirectedTerminal launched(endOfInput, output[1]);
        BrenvoReleaseInfo::initWithReleaseInfo(record("3.0"), test_.services);
        EXPECT_EQ(skipSeenAtClose_.size(), 2u);
    }
    ::close(endOfInput);
    ::close(output[1]);
    runLoop();
    EXPECT_EQ(::read(output[0], printed, sizeof printed), 0) << "nothing is printed";
    ::close(output[0]);
    EXPECT_TRUE(
        test_.log.contains("Brenvo: No release window could be shown; closing it at once."));
    EXPECT_TRUE(windows.shown().empty());
    EXPECT_TRUE(test_.workspace.openedURLs().empty());
}

// A version the defaults file cannot hold whole is stored in the form the next check compares.
TEST_F(ReleaseInfo, SkipStoresTheVersionAsTheFileHoldsIt) {
    ScriptedWindow windows(WindowAnswer::Skip);
    windows.registerWith(test_.windows);
    const std::string version("2.0\0evil", 8);
    BrenvoReleaseInfo::initWithReleaseInfo(JsonValue::object({{"version", JsonValue(version)}}),
                                           test_.services);
    runLoop();
    EXPECT_EQ(skipSeenAtClose_, std::vector<std::string>{platform::storableText(version)});
    EXPECT_EQ(platform::storableText(version), "2.0\xEF\xBF\xBD"
                                               "evil");
}

} // namespace

namespace {

// A host that owns its services and destroys them, after its agent, while the release window is
// still open: the window closes with them (a close without an answer, posted once), and nothing
// reaches the services once they are gone. Run under AddressSanitizer this reads no freed memory.
TEST(ReleaseInfoLifetime, AWindowClosesWithServicesThatEndBeforeIt) {
    ScriptedWindow windows(std::nullopt);
    std::vector<std::string> skippedAtClose;
    {
        auto test = std::make_unique<brenvo::test::TestServices>();
        test->setInfo("BrenvoAppId", "42");
        windows.registerWith(test->windows);
        brenvo::test::TestServices& services = *test;
        test->center.addObserver(
            &skippedAtClose,
            [&](const platform::Notification&) {
                skippedAtClose.push_back(
                    services.defaults.stringForKey(brenvo::kBrenvoSkipVersion).value_or("-"));
            },
            brenvo::kBrenvoReleaseWindowClosed, nullptr);
        auto agent = std::make_unique<brenvo::Brenvo>(test->services);
        BrenvoReleaseInfo::initWithReleaseInfo(JsonValue::object({{"version", "5.0"}}),
                                               test->services);
        ASSERT_EQ(windows.shown().size(), 1u);
        agent.reset();
        test.reset();
    }
    EXPECT_EQ(skippedAtClose, std::vector<std::string>{"-"});
    EXPECT_EQ(BrenvoReleaseInfo::liveControllers(), 0u);
    EXPECT_TRUE(windows.shown().at(0).destroyed);
    windows.answer(WindowAnswer::Skip); // nothing is left to answer
    EXPECT_EQ(skippedAtClose.size(), 1u);
}

// The newest factory that gives a window wins; the terminal window answering by itself (as the
// brenvo tool's --answer does) carries the answer through to the defaults.
TEST(WindowRegistry, NewestWorkingFactoryWinsThenTheTerminalAnswers) {
    brenvo::test::TestServices test;
    int output[2];
    ASSERT_EQ(::pipe(output), 0);
    platform::registerTerminalWindow(test.windows, {-1, output[1], WindowAnswer::Skip});
    ScriptedWindow refusing(WindowAnswer::Open);
    refusing.setRefuse(true);
    refusing.registerWith(test.windows);
    BrenvoReleaseInfo::initWithReleaseInfo(JsonValue::object({{"version", "4.2"}}), test.services);
    test.runLoop.runMode(platform::kDefaultRunLoopMode, std::chrono::seconds(1));
    EXPECT_EQ(test.defaults.stringForKey(brenvo::kBrenvoSkipVersion), "4.2");
    EXPECT_TRUE(test.workspace.openedURLs().empty());
    EXPECT_EQ(BrenvoReleaseInfo::liveControllers(), 0u);

    ScriptedWindow working(WindowAnswer::Open); // registered last: used from now on
    working.registerWith(test.windows);
    BrenvoReleaseInfo::initWithReleaseInfo(JsonValue::object({{"version", "4.3"}}), test.services);
    test.runLoop.runMode(platform::kDefaultRunLoopMode, std::chrono::seconds(1));
    EXPECT_EQ(working.shown().size(), 1u);
    EXPECT_EQ(test.workspace.openedURLs().size(), 1u);
    EXPECT_EQ(test.defaults.stringForKey(brenvo::kBrenvoSkipVersion), "4.2");

    test.windows.unregisterWindows(platform::kReleaseInfoWindow);
    struct Owner final : platform::ReleaseWindowOwner {
        void awakeFromNib() override {}
        void doOpenMas() override {}
        void doSkip() override {}
        void windowWillClose() override {}
    } owner;
    EXPECT_FALSE(test.windows.loadWindow(platform::kReleaseInfoWindow, owner, test.runLoop));
    ::close(output[0]);
    ::close(output[1]);
}

} // namespace
