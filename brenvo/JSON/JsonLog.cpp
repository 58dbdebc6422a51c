#include "brenvo/JSON/JsonLog.h"

#include "brenvo/utf/Printable.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>

#if defined(_WIN32)
#include <process.h> // _getpid
#else
#include <unistd.h>
#endif
#if defined(__GLIBC__)
#include <errno.h> // program_invocation_short_name
#endif

namespace brenvo {
namespace {

using Handler = std::function<void(std::string_view)>;

std::mutex& handlerMutex() {
    static std::mutex mutex;
    return mutex;
}

// Shared so that a line in progress keeps its handler alive while another thread replaces it.
std::shared_ptr<const Handler>& handlerSlot() {
    static std::shared_ptr<const Handler> slot;
    return slot;
}

const char* programName() {
#if defined(__GLIBC__)
    return program_invocation_short_name;
#else
    return "brenvo";
#endif
}

long long processId() {
#if defined(_WIN32)
    return _getpid();
#else
    return getpid();
#endif
}

std::tm localTime(std::time_t seconds) {
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    return local;
}

void writeDefaultLine(std::string_view text) {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    const std::tm local = localTime(seconds);
    char stamp[32];
    const size_t stampLength = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);

    std::string line(stamp, stampLength);
    char tail[64];
    std::snprintf(tail, sizeof tail, ".%03d ", static_cast<int>(millis));
    line += tail;
    line += programName();
    line += '[';
    line += std::to_string(processId());
    line += "] ";
    // The text holds text of the input (keys in messages): one line, nothing a terminal acts on.
    utf::appendPrintable(line, text);
    line += '\n';
    // One write per line so that lines of several threads or processes do not interleave.
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

} // namespace

void setJsonLogHandler(std::function<void(std::string_view)> handler) {
    std::shared_ptr<const Handler> next;
    if (handler)
        next = std::make_shared<const Handler>(std::move(handler));
    std::lock_guard<std::mutex> lock(handlerMutex());
    handlerSlot().swap(next);
}

void jsonLog(std::string_view text) {
    std::shared_ptr<const Handler> handler;
    {
        std::lock_guard<std::mutex> lock(handlerMutex());
        handler = handlerSlot();
    }
    if (handler)
        (*handler)(text);
    else
        writeDefaultLine(text);
}

namespace detail {

void logConversionFailure(std::string_view operation, const JsonErrorTrace& trace) {
    std::string line = "-";
    line += operation;
    line += " failed. Error trace is: ";
    line += describeTrace(trace.value_or(std::vector<JsonErrorRef>()));
    jsonLog(line);
}

} // namespace detail
} // namespace brenvo
