// The system log's origin and destinations on Linux: the process's name as glibc keeps it,
// standard error, and syslog().
#include "brenvo/platform/detail/System.h"

#include <cerrno>
#include <syslog.h>
#include <unistd.h>

namespace brenvo::detail {

namespace {

void writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
}

} // namespace

std::tm localTime(std::time_t seconds) {
    std::tm local{};
    localtime_r(&seconds, &local);
    return local;
}

std::string processName() {
    // glibc keeps the last component of argv[0].
    if (program_invocation_short_name != nullptr && *program_invocation_short_name != '\0') {
        return program_invocation_short_name;
    }
    return "unknown";
}

long processId() {
    return static_cast<long>(getpid());
}

void writeSystemLog(std::string_view line, const std::string& message) {
    // One write per line, so lines of several threads never interleave.
    writeAll(STDERR_FILENO, std::string(line) + '\n');
    // The facility goes with each line and openlog() is never called, so the host's own
    // settings (its name, options and default facility) stay as the host made them. The text
    // goes in as an argument, never as the format.
    syslog(LOG_USER | LOG_NOTICE, "%s", message.c_str());
}

} // namespace brenvo::detail
