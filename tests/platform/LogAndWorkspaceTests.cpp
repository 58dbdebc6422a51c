// The system log's line format and destinations (syslog included), and the detached xdg-open
// launcher.
#include "brenvo/platform/Log.h"
#include "brenvo/platform/linux/XdgOpenWorkspace.h"
#include "support/CapturingLog.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <regex>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <syslog.h>
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

// The stamp is the local time at which the line was made, in the zone TZ names.
TEST(SystemLog, StampIsTheLocalTimeOfTheLine) {
    const char* const zone = std::getenv("TZ");
    const std::string savedZone = zone != nullptr ? zone : "";
    setenv("TZ", "<+0545>-5:45", 1);
    tzset();
    const auto stampOf = [](std::chrono::system_clock::time_point at) {
        const std::time_t seconds = std::chrono::system_clock::to_time_t(at);
        std::tm local{};
        localtime_r(&seconds, &local);
        char stamp[40];
        const size_t length = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
        const auto millis =
            std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count() %
            1000;
        std::snprintf(stamp + length, sizeof stamp - length, ".%03d", static_cast<int>(millis));
        return std::string(stamp);
    };
    const std::string earliest = stampOf(std::chrono::system_clock::now());
    const std::string stamp = formatLogLine("x").substr(0, 23);
    const std::string latest = stampOf(std::chrono::system_clock::now());
    if (zone != nullptr)
        setenv("TZ", savedZone.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    EXPECT_LE(earliest, stamp);
    EXPECT_LE(stamp, latest);
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

// Runs `body` in a child process whose /dev is a tmpfs of its own (a mount namespace; without
// the privilege, in a user namespace too) holding the datagram socket /dev/log that syslog()
// writes to, and returns the datagrams that reached it, one per line; a reason starting with "!"
// when the machine allows no such namespace.
std::string syslogDatagrams(const std::function<void()>& body) {
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        return "!pipe";
    const pid_t child = fork();
    if (child == 0) {
        std::string out;
        const auto fail = [&](const char* step) { out = std::string("!") + step; };
        const auto put = [](const char* file, const std::string& text) {
            const int fd = open(file, O_WRONLY);
            return fd >= 0 && ::write(fd, text.data(), text.size()) > 0 && close(fd) == 0;
        };
        const std::string uid = std::to_string(getuid()), gid = std::to_string(getgid());
        dup2(open("/dev/null", O_WRONLY), STDERR_FILENO); // lines go to standard error too
        if (unshare(CLONE_NEWNS) != 0 &&
            (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 || !put("/proc/self/setgroups", "deny") ||
             !put("/proc/self/uid_map", "0 " + uid + " 1") ||
             !put("/proc/self/gid_map", "0 " + gid + " 1")))
            fail("unshare");
        sockaddr_un address{AF_UNIX, "/dev/log"};
        const int socket = ::socket(AF_UNIX, SOCK_DGRAM, 0);
        if (out.empty() && (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                            mount("none", "/dev", "tmpfs", 0, "mode=0755") != 0 ||
                            bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address)))
            fail("mount");
        if (out.empty()) {
            body();
            char buffer[4096];
            for (ssize_t got; (got = recv(socket, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
                out.append(buffer, static_cast<size_t>(got)) += '\n';
        }
        [[maybe_unused]] const ssize_t written = ::write(pipe[1], out.data(), out.size());
        _exit(0);
    }
    close(pipe[1]);
    std::string received;
    char buffer[4096];
    for (ssize_t got; (got = read(pipe[0], buffer, sizeof buffer)) > 0;)
        received.append(buffer, static_cast<size_t>(got));
    close(pipe[0]);
    waitpid(child, nullptr, 0);
    return received;
}

// Each syslog line carries the user facility with it; the host's own openlog() settings (its
// name, options and facility) hold for its lines before and after the library's.
TEST(SystemLog, SyslogLinesLeaveTheHostsSettingsAlone) {
    const std::string datagrams = syslogDatagrams([] {
        closelog(); // whatever this test process had opened
        openlog("hostapp", LOG_PID | LOG_NDELAY, LOG_AUTHPRIV);
        syslog(LOG_INFO, "host before");
        SystemLog().write("Brenvo: library line\x1B");
        syslog(LOG_INFO, "host after");
    });
    if (datagrams.starts_with("!"))
        GTEST_SKIP() << "no private /dev/log: " << datagrams << " not permitted";
    // "<priority>Mmm dd hh:mm:ss name[pid]: text"
    const std::regex shape(R"(<(\d+)>\w{3} [ \d]\d \d\d:\d\d:\d\d hostapp\[\d+\]: (.*))");
    std::vector<std::string> seen;
    std::istringstream lines(datagrams);
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        seen.push_back(std::regex_match(line, match, shape) ? match[1].str() + " " + match[2].str()
                                                            : "unexpected: " + line);
    }
    const std::string host = std::to_string(LOG_AUTHPRIV | LOG_INFO);
    const std::string user = std::to_string(LOG_USER | LOG_NOTICE);
    EXPECT_EQ(seen,
              (std::vector<std::string>{host + " host before", user + " Brenvo: library line\\x1B",
                                        host + " host after"}));
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
    // It reports its arguments and the descriptors that a program it starts has.
    dir.writeFile("opener", "#!/bin/sh\n{ printf '%s|%s|' \"$#\" \"$1\"; ls /proc/self/fd; } > '" +
                                fifo.string() + "'\n");
    ASSERT_EQ(chmod((dir / "opener").c_str(), 0700), 0);

    // Descriptors of the host's without close-on-exec: a file, both ends of a pipe.
    const int file = open((dir / "opener").c_str(), O_RDONLY);
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    const int held[] = {dup2(file, 40), pipe[0], pipe[1], file};
    const std::string url = "https://example.org/app?id=1&x=$(touch pwned);`id`";
    XdgOpenWorkspace workspace((dir / "opener").string());
    const bool opened = workspace.openURL(url);
    for (const int fd : held)
        close(fd);
    ASSERT_TRUE(opened);
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
    // Standard input, output and error, and the one ls reads the list through.
    EXPECT_EQ(received, "1|" + url + "|0\n1\n2\n3\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "pwned"));

    // Nothing could open it: the log says so, in one line.
    brenvo::test::CapturingLog log;
    XdgOpenWorkspace missing((dir / "no-such-program").string(), &log);
    EXPECT_FALSE(missing.openURL(url));
    EXPECT_EQ(log.lines(), std::vector<std::string>{"Brenvo: Cannot open " + url + ": " +
                                                    (dir / "no-such-program").string() +
                                                    ": No such file or directory"});

    // A URL of any length is cut at 1 KiB there.
    log.clear();
    EXPECT_FALSE(missing.openURL("https://example.org/" + std::string(5000, 'a')));
    EXPECT_EQ(log.lines().at(0).rfind("Brenvo: Cannot open https://example.org/" +
                                          std::string(1024 - 20, 'a') + "\u2026: ",
                                      0),
              0u);
}

} // namespace
