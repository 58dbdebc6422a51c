// JSON error records and traces.
//
// A failed JSON operation leaves a trace: the records it made, oldest first. The first record
// is the innermost cause, the last the outermost report, and every record but the first points
// at the one before it through underlying(). Records never change once made and are shared
// between traces, so copying a trace copies pointers only.
//
//     if (auto trace = parser.errorTrace())
//         std::cerr << brenvo::describeTrace(*trace) << "\n";
//     // ("Error Domain=org.brenvo.JSON.ErrorDomain Code=3 \"Expected value while parsing array\"")
#pragma once

#include "brenvo/Export.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace brenvo {

// The domain of every JSON error record: "org.brenvo.JSON.ErrorDomain".
BRENVO_EXPORT extern const char XKJSONErrorDomain[];

// The codes of JSON error records.
enum JsonErrorCode : unsigned {
    JsonErrorUnsupportedType = 1,  // the writer met a value it cannot write
    JsonErrorNumber = 2,           // malformed number, or one the Decimal type cannot hold
    JsonErrorSyntax = 3,           // unexpected byte, missing value, key, colon or separator
    JsonErrorFragment = 4,         // a scalar where an object or array was required
    JsonErrorControlCharacter = 5, // raw byte 0x00-0x1F inside a string
    JsonErrorUnicode = 6,          // bad \u escape, or string bytes that are not UTF-8
    JsonErrorDepth = 7,            // nesting deeper than the limit
    JsonErrorEscape = 8,           // backslash followed by an unknown byte
    JsonErrorTrailingComma = 9,    // comma right before "]" or "}"
    JsonErrorTrailingGarbage = 10, // anything after the top-level value
    JsonErrorEndOfInput = 11,      // the input ended inside a value
    JsonErrorNilInput = 12,        // no input at all
    JsonErrorTooLarge = 13,        // more entries than a container holds, or no memory for a text
};

class JsonError;
using JsonErrorRef = std::shared_ptr<const JsonError>;

// One immutable error record: domain, code, message and the record made before it.
class BRENVO_EXPORT JsonError {
public:
    JsonError(std::string domain, unsigned code, std::string message, JsonErrorRef underlying);
    // Releases a long chain of underlying records without recursing once per record.
    ~JsonError();

    JsonError(const JsonError&) = delete;
    JsonError& operator=(const JsonError&) = delete;

    const std::string& domain() const noexcept { return domain_; }
    unsigned code() const noexcept { return code_; }
    // The message, already formatted ("Unescaped control character '0x9'").
    const std::string& message() const noexcept { return message_; }
    // The record that was last in the trace when this one was made; null for the first.
    const JsonErrorRef& underlying() const noexcept { return underlying_; }

    // One line: Error Domain=<domain> Code=<code> "<message>".
    std::string description() const;

private:
    std::string domain_;
    unsigned code_;
    std::string message_;
    mutable JsonErrorRef underlying_; // mutable only so that the destructor can unchain it
};

// The text form of a trace for log lines, on one line, oldest record first:
// ("Error Domain=... Code=11 \"End of input while parsing array\"", "Error Domain=...").
// An empty trace gives "()".
BRENVO_EXPORT std::string describeTrace(const std::vector<JsonErrorRef>& trace);

} // namespace brenvo
