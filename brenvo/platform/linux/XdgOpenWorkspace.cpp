#include "brenvo/platform/linux/XdgOpenWorkspace.h"

#include "brenvo/utf/Printable.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace brenvo::platform {

namespace {

std::atomic<DesktopUrlLauncher> installedLauncher{nullptr};

// Starts `program` with `url`, detached; false with the reason in `why` when it cannot start.
bool startDetached(const std::string& program, std::string_view url, std::string& why);

// Leaves the program to be started only standard input, output and error: every other
// descriptor is marked close-on-exec (or, where the kernel cannot, closed), but `keep`, which is
// close-on-exec already. Async-signal-safe, for the child between fork() and exec.
void closeOtherDescriptorsOnExec(int keep) {
    constexpr int kFirst = STDERR_FILENO + 1;
#if defined(CLOSE_RANGE_CLOEXEC)
    if (::close_range(kFirst, ~0U, CLOSE_RANGE_CLOEXEC) == 0)
        return;
    if (keep >= kFirst) {
        for (int fd = kFirst; fd < keep; ++fd)
            ::close(fd);
        ::closefrom(keep + 1);
    } else {
        ::closefrom(kFirst);
    }
#else
    rlimit limit{};
    const int last = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
                         ? static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 1 << 20))
                         : 1 << 16;
    for (int fd = kFirst; fd < last; ++fd)
        if (fd != keep)
            ::close(fd);
#endif
}

} // namespace

void setDesktopUrlLauncher(DesktopUrlLauncher launcher) {
    installedLauncher.store(launcher);
}

DesktopUrlLauncher desktopUrlLauncher() {
    return installedLauncher.load();
}

XdgOpenWorkspace::XdgOpenWorkspace() : program_("xdg-open") {}

XdgOpenWorkspace::XdgOpenWorkspace(Log* log) : program_("xdg-open"), log_(log) {}

XdgOpenWorkspace::XdgOpenWorkspace(std::string program) : program_(std::move(program)) {}

XdgOpenWorkspace::XdgOpenWorkspace(std::string program, Log* log)
    : program_(std::move(program)), log_(log) {}

bool XdgOpenWorkspace::isAcceptableURL(std::string_view url) {
    // A scheme first, so that the text can neither be read as an option nor as a local path.
    size_t colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0) {
        return false;
    }
    const auto isAlpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (!isAlpha(url[0])) {
        return false;
    }
    for (size_t i = 1; i < colon; ++i) {
        const char c = url[i];
        if (!isAlpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') {
            return false;
        }
    }
    for (char c : url) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            return false;
        }
    }
    return true;
}

bool XdgOpenWorkspace::openURL(std::string_view url) {
    return openURL(url, desktopUrlLauncher(), program_, log_);
}

bool XdgOpenWorkspace::openURL(std::string_view url, DesktopUrlLauncher launcher,
                               const std::string& program, Log* log) {
    std::string why;
    if (!isAcceptableURL(url)) {
        why = "not a URL";
    } else {
        std::string launcherWhy;
        if (launcher != nullptr && launcher(url, launcherWhy)) {
            return true;
        }
        std::string programWhy;
        if (startDetached(program, url, programWhy)) {
            return true;
        }
        why = launcher != nullptr ? "GIO: " + launcherWhy + "; " : std::string();
        why += (program.empty() ? std::string("no program") : program) + ": " + programWhy;
    }
    if (log != nullptr) {
        log->write(utf::printable("Brenvo: Cannot open " + utf::logField(url) + ": " + why));
    }
    return false;
}

namespace {

bool startDetached(const std::string& program, std::string_view url, std::string& why) {
    if (program.empty()) {
        why = "none configured";
        return false;
    }
    // Everything the children need is prepared before fork(): after it only async-signal-safe
    // calls are made.
    const std::string argument(url);
    char* const argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(argument.c_str()),
                          nullptr};
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        why = std::strerror(errno);
        return false;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        why = std::strerror(errno);
        ::close(report[0]);
        ::close(report[1]);
        return false;
    }
    if (child == 0) {
        ::close(report[0]);
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild != 0) {
            ::_exit(grandchild < 0 ? 1 : 0);
        }
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, STDIN_FILENO);
            ::dup2(null, STDOUT_FILENO);
            if (null > STDERR_FILENO) {
                ::close(null);
            }
        }
        closeOtherDescriptorsOnExec(report[1]);
        ::execvp(argv[0], argv);
        const int error = errno;
        [[maybe_unused]] const ssize_t written = ::write(report[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // The pipe closes when exec succeeds (close-on-exec) or carries the error when it fails; the
    // wait ends as soon as the program has started.
    int error = 0;
    ssize_t got;
    do {
        got = ::read(report[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    ::close(report[0]);
    const bool childOk = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (got == static_cast<ssize_t>(sizeof error)) {
        why = std::strerror(error);
    } else if (!childOk) {
        why = "could not be started";
    }
    return childOk && got == 0;
}

} // namespace

} // namespace brenvo::platform
