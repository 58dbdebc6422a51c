#include "brenvo/JSON/JsonError.h"

#include <utility>

namespace brenvo {

const char XKJSONErrorDomain[] = "org.brenvo.JSON.ErrorDomain";

JsonError::JsonError(std::string domain, unsigned code, std::string message,
                     JsonErrorRef underlying)
    : domain_(std::move(domain)), code_(code), message_(std::move(message)),
      underlying_(std::move(underlying)) {}

JsonError::~JsonError() {
    // Unchain records that only this chain holds one by one, so that a trace of any length
    // is released without one nested destructor call per record.
    JsonErrorRef next = std::move(underlying_);
    while (next && next.use_count() == 1) {
        JsonErrorRef after = std::move(next->underlying_);
        next = std::move(after);
    }
}

std::string JsonError::description() const {
    std::string text = "Error Domain=" + domain_ + " Code=" + std::to_string(code_) + " \"";
    for (char ch : message_) {
        if (ch == '"' || ch == '\\')
            text.push_back('\\');
        text.push_back(ch);
    }
    text.push_back('"');
    return text;
}

std::string describeTrace(const std::vector<JsonErrorRef>& trace) {
    std::string text = "(";
    for (std::size_t i = 0; i < trace.size(); ++i) {
        if (i > 0)
            text += ", ";
        const std::string one = trace[i] ? trace[i]->description() : std::string("(null)");
        text.push_back('"');
        for (char ch : one) {
            if (ch == '"' || ch == '\\')
                text.push_back('\\');
            text.push_back(ch);
        }
        text.push_back('"');
    }
    text.push_back(')');
    return text;
}

} // namespace brenvo
