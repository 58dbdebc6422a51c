#include "brenvo/platform/Log.h"

#include "brenvo/utf/Printable.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <syslog.h>
#include <unistd.h>

namespace brenvo::platform {

namespace {

std::string processName() {
    // glibc keeps the last component of argv[0].
    if (program_invocation_short_name != nullptr && *program_invocation_short_name != '\0') {
        return program_invocation_short_name;
    }
    return "unknown";
}

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

std::string formatLogLine(std::string_view text) {
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm local {};
    localtime_r(&now.tv_sec, &local);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03ld ", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<long>(now.tv_nsec / 1'000'000));
    std::string line = stamp;
    line += processName();
    line += '[';
    line += std::to_string(static_cast<long>(getpid()));
    line += "] ";
    utf::appendPrintable(line, text);
    return line;
}

struct SystemLog::State {
    using Sink = std::function<void(std::string_view)>;
    std::mutex mutex;
    // Shared so that a line in progress keeps its sink while another thread replaces it.
    std::shared_ptr<const Sink> sink;
};

SystemLog::SystemLog() : state_(std::make_unique<State>()) {}

SystemLog::~SystemLog() = default;

void SystemLog::setSink(std::function<void(std::string_view line)> sink) {
    std::shared_ptr<const State::Sink> next;
    if (sink)
        next = std::make_shared<const State::Sink>(std::move(sink));
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->sink.swap(next);
}

void SystemLog::write(std::string_view text) {
    const std::string line = formatLogLine(text);
    std::shared_ptr<const State::Sink> sink;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        sink = state_->sink;
    }
    if (sink) {
        (*sink)(line);
        return;
    }
    // One write per line, so lines of several threads never interleave.
    writeAll(STDERR_FILENO, line + '\n');
    // The facility goes with each line and openlog() is never called, so the host's own
    // settings (its name, options and default facility) stay as the host made them. The text
    // goes in as an argument, never as the format.
    const std::string message = utf::printable(text);
    syslog(LOG_USER | LOG_NOTICE, "%s", message.c_str());
}

} // namespace brenvo::platform
