// XKJsonBase: the error trace, nesting depth and nesting limit shared by the JSON parser,
// writer and facade.
//
// Every top-level operation of a subclass clears the trace first, so afterwards the trace
// holds exactly that operation's records (absent after a success). The trace is absent, not
// empty, until the first error: `errorTrace()` gives std::nullopt then.
//
//     brenvo::XKJsonParser parser;
//     parser.setMaxDepth(64);
//     if (!parser.objectWithString("[1,]"))
//         if (const brenvo::JsonErrorTrace trace = parser.errorTrace())
//             for (const brenvo::JsonErrorRef& record : *trace)
//                 std::printf("%u: %s\n", record->code(), record->message().c_str());
#pragma once

#include "brenvo/Export.h"
#include "brenvo/JSON/JsonError.h"
#include "brenvo/JSON/JsonMessages.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brenvo {

// A trace: the records of one operation, oldest first, or std::nullopt when there is none.
// A std::optional in every respect but one: dereferencing a temporary trace hands over its
// records by value, so that a loop over the trace an accessor returns,
//
//     for (const brenvo::JsonErrorRef& record : *parser.errorTrace())
//
// reads records that live as long as the loop (a reference into the temporary would not).
class JsonErrorTrace : public std::optional<std::vector<JsonErrorRef>> {
public:
    using Records = std::vector<JsonErrorRef>;
    using std::optional<Records>::optional;
    using std::optional<Records>::operator=;
    JsonErrorTrace(const std::optional<Records>& trace) : std::optional<Records>(trace) {}
    JsonErrorTrace(std::optional<Records>&& trace) : std::optional<Records>(std::move(trace)) {}

    const Records& operator*() const& { return base(); }
    Records& operator*() & { return base(); }
    Records operator*() && { return std::move(base()); }
    Records operator*() const&& { return base(); }
    const Records& value() const& { return std::optional<Records>::value(); }
    Records& value() & { return std::optional<Records>::value(); }
    Records value() && { return std::move(std::optional<Records>::value()); }
    Records value() const&& { return std::optional<Records>::value(); }

private:
    Records& base() { return std::optional<Records>::operator*(); }
    const Records& base() const { return std::optional<Records>::operator*(); }
};

class BRENVO_EXPORT XKJsonBase {
public:
    // The nesting limit of a new instance.
    static constexpr uint64_t kDefaultMaxDepth = 512;

    // Called with the key "errorTrace" and willChange true right before the trace changes,
    // and with willChange false right after (by addErrorWithCode and clearErrorTrace).
    // An observer may throw: the exception leaves the running operation, the trace keeps the
    // records added up to then (a throw before a change leaves it unchanged), the operation
    // gives no result, and the parser or writer is left as good as new for its next operation.
    using ErrorTraceObserver = std::function<void(std::string_view key, bool willChange)>;

    // No trace, depth 0, maxDepth kDefaultMaxDepth. The limit is stored directly: a subclass
    // that overrides setMaxDepth applies kDefaultMaxDepth through its own override in its own
    // constructor (C++ does not dispatch virtual calls made by a base constructor to the
    // subclass).
    XKJsonBase();
    virtual ~XKJsonBase();

    XKJsonBase(const XKJsonBase&) = delete;
    XKJsonBase& operator=(const XKJsonBase&) = delete;

    // A copy of the trace, oldest record first, or std::nullopt. The copy shares the records
    // and is not affected by later errors or by clearErrorTrace.
    JsonErrorTrace errorTrace() const { return errorTrace_; }

    // The nesting limit: arrays and objects nested deeper fail with JsonErrorDepth. 0 means
    // no limit of the caller's (the parser then stops at its own hard limit, see
    // XKJsonParser::kNestingHardLimit). Applies from the next array or object opened.
    virtual uint64_t maxDepth() const;
    virtual void setMaxDepth(uint64_t maxDepth);

    // Appends one record in XKJSONErrorDomain. Its underlying record is the trace's last
    // record, if there is a trace; otherwise a new trace is started.
    void addErrorWithCode(unsigned code, std::string description);
    // The same for one of the table's messages (JsonMessages.h), with its code; `argument`
    // completes its placeholder.
    void addError(JsonMessage message) { addError(message, std::string_view()); }
    void addError(JsonMessage message, std::string_view argument) {
        addErrorWithCode(jsonMessageEntry(message).code, jsonMessageText(message, argument));
    }
    void addError(JsonMessage message, unsigned char byte) {
        addErrorWithCode(jsonMessageEntry(message).code, jsonMessageText(message, byte));
    }

    // Drops the trace (it becomes absent). Traces handed out earlier are not altered.
    void clearErrorTrace();

    // Installs (or, with an empty function, removes) the change observer of "errorTrace".
    void setErrorTraceObserver(ErrorTraceObserver observer);

protected:
    // The newest record of the trace, or null.
    JsonErrorRef lastError() const;

    // Replaces the trace outright, without change announcements (the facade uses this to
    // take over a component's trace).
    void replaceErrorTrace(JsonErrorTrace trace) { errorTrace_ = std::move(trace); }

    // The number of arrays and objects open at the current point of the running operation.
    uint64_t depth_ = 0;

private:
    JsonErrorTrace errorTrace_;
    uint64_t maxDepth_ = kDefaultMaxDepth;
    ErrorTraceObserver observer_;
};

} // namespace brenvo
