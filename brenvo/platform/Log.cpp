#include "brenvo/platform/Log.h"

#include "brenvo/utf/Printable.h"

#include "brenvo/platform/detail/System.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

namespace brenvo::platform {

std::string formatLogLine(std::string_view text) {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto seconds = std::chrono::floor<std::chrono::seconds>(now);
    const std::tm local = detail::localTime(static_cast<std::time_t>(seconds.count()));
    char stamp[64];
    std::snprintf(
        stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03ld ", local.tm_year + 1900,
        local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
        static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(now - seconds).count()));
    std::string line = stamp;
    line += detail::processName();
    line += '[';
    line += std::to_string(detail::processId());
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
    detail::writeSystemLog(line, utf::printable(text));
}

} // namespace brenvo::platform
