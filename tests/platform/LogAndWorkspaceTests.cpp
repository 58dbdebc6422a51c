// The system log's line format and destinations, and the detached xdg-open launcher.
#include "brenvo/platform/Log.h"
#include "brenvo/platform/system/XdgOpenWorkspace.h"
#include "support/CapturingLog.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <regex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace brenvo::platform;

namespace {

// Splits "YYYY-MM-DD HH:MM:SS.mmm platform_tests[pid] text" into pid and text.
bool parseLine(const std::string& line, std::string& pid, std::string& text) {
    static const std::regex shape(
        R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} platform_tests\[(\d+)\] ([\s\S]*))");
    std::smatch match;
    if (!std::regex_match(line, match, shape)) {
        return false;
    }
    pid = match[1];
    text = match[2];
    return true;
}

// Format characters are kept; what would break the line or act on a terminal shows escaped.
TEST(SystemLog, LinesCarryStampNameAndPidAndThePrintableText) {
    const std::pair<std::string, std::string> texts[] = {
        {"Brenvo: plain", "Brenvo: plain"},
        {"Brenvo: 100% %@ %s %n %%", "Brenvo: 100% %@ %s %n %%"},
        {"", ""},
        {"two\nlines\x1B[2J", "two\\nlines\\x1B[2J"},
    };
    for (const auto& [text, shown] : texts) {
        std::string pid, written;
        const std::string line = formatLogLine(text);
        ASSERT_TRUE(parseLine(line, pid, written)) << line;
        EXPECT_EQ(pid, std::to_string(getpid()));
        EXPECT_EQ(written, shown);
    }
}

TEST(SystemLog, WritesToTheSinkOrElseToStandardError) {
    SystemLog log;
    std::vector<std::string> lines;
    log.setSink([&](std::string_view line) { lines.emplace_back(line); });
    log.write("Brenvo: 50% done %@");
    ASSERT_EQ(lines.size(), 1u);
    std::string pid, text;
    ASSERT_TRUE(parseLine(lines[0], pid, text));
    EXPECT_EQ(text, "Brenvo: 50% done %@");

    // Without a sink the line goes to file descriptor 2.
    brenvo::test::TempDir dir;
    const auto capture = dir / "stderr";
    const int file = open(capture.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(file, 0);
    const int saved = dup(STDERR_FILENO);
    dup2(file, STDERR_FILENO);
    log.setSink(nullptr);
    log.write("to stderr %d");
    dup2(saved, STDERR_FILENO);
    close(saved);
    close(file);
    const std::string written = dir.readFile("stderr").value_or("");
    ASSERT_FALSE(written.empty());
    EXPECT_EQ(written.back(), '\n');
    const std::string line = written.substr(0, written.size() - 1);
    ASSERT_TRUE(parseLine(line, pid, text)) << written;
    EXPECT_EQ(text, "to stderr %d");
    EXPECT_EQ(lines.size(), 1u);
}

TEST(XdgOpenWorkspace, RefusesTextsThatAreNotURLs) {
    struct Case {
        const char* url;
        bool accepted;
    };
    const Case cases[] = {
        {"macappstore://itunes.apple.com/app/id123", true},
        {"https://example.org/a?b=c&d=$(id)", true},
        {"x-scheme+1.2:rest", true},
        {"", false},
        {"--help", false},
        {"/etc/passwd", false},
        {":nothing", false},
        {"1http://x", false},
        {"ht tp://x", false},
        {"https://x\nsecond", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(XdgOpenWorkspace::isAcceptableURL(c.url), c.accepted) << c.url;
    }
    XdgOpenWorkspace workspace("/nonexistent/never-run");
    EXPECT_FALSE(workspace.openURL("--help"));
}

TEST(XdgOpenWorkspace, StartsTheProgramDetachedWithTheURLAsItsOnlyArgument) {
    brenvo::test::TempDir dir;
    const auto fifo = dir / "report";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    dir.writeFile("opener", "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > '" + fifo.string() + "'\n");
    ASSERT_EQ(chmod((dir / "opener").c_str(), 0700), 0);

    const std::string url = "https://example.org/app?id=1&x=$(touch pwned);`id`";
    XdgOpenWorkspace workspace((dir / "opener").string());
    ASSERT_TRUE(workspace.openURL(url));
    // The intermediate child has been reaped; the opener belongs to nobody here.
    errno = 0;
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);

    // Opening the fifo blocks until the opener writes its report.
    const int report = open(fifo.c_str(), O_RDONLY);
    ASSERT_GE(report, 0);
    std::string received;
    char buffer[256];
    ssize_t got;
    while ((got = read(report, buffer, sizeof buffer)) > 0) {
        received.append(buffer, static_cast<size_t>(got));
    }
    close(report);
    EXPECT_EQ(received, "1|" + url);
    EXPECT_FALSE(std::filesystem::exists(dir / "pwned"));

    // Nothing could open it: the log says so, in one line.
    brenvo::test::CapturingLog log;
    XdgOpenWorkspace missing((dir / "no-such-program").string(), &log);
    EXPECT_FALSE(missing.openURL(url));
    EXPECT_EQ(log.lines(), std::vector<std::string>{"Brenvo: Cannot open " + url + ": " +
                                                    (dir / "no-such-program").string() +
                                                    ": No such file or directory"});
}

} // namespace
