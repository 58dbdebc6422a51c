// Where the JSON convenience functions send their failure lines.
//
// The JSON library depends on nothing else of Brenvo, so it cannot write to the platform log
// itself. By default a line goes to standard error with a time stamp, the program name and the
// process id, the way the system log writes it:
//
//     2026-12-08 01:10:09.123 myapp[4242] -JSONValue failed. Error trace is: (...)
//
// A host (or the agent library) routes the lines elsewhere with setJsonLogHandler:
//
//     brenvo::setJsonLogHandler([&](std::string_view text) { myLog.write(text); });
//
// The handler receives the bare text, without stamp or line feed; the default line shows it in
// its printable form (brenvo/utf/Printable.h), on one line whatever the input held.
#pragma once

#include "brenvo/Export.h"
#include "brenvo/JSON/XKJsonBase.h"

#include <functional>
#include <string_view>

namespace brenvo {

// Installs `handler` for every later JSON log line; an empty function restores the default
// line on standard error. Safe to call from any thread; the handler is called with no lock held.
BRENVO_EXPORT void setJsonLogHandler(std::function<void(std::string_view)> handler);

// Writes one line of `text` through the installed handler (or the default).
BRENVO_EXPORT void jsonLog(std::string_view text);

namespace detail {
// Logs "-<operation> failed. Error trace is: <trace>", the trace in describeTrace's form.
void logConversionFailure(std::string_view operation, const JsonErrorTrace& trace);

// `result` as it is; an empty one is logged first with the trace of `component`.
template <class Result>
Result logFailure(std::string_view operation, const XKJsonBase& component, Result result) {
    if (!result)
        logConversionFailure(operation, component.errorTrace());
    return result;
}
} // namespace detail

} // namespace brenvo
