#include "brenvo/JSON/XKJsonBase.h"

#include <memory>
#include <utility>

namespace brenvo {

XKJsonBase::XKJsonBase() = default;

XKJsonBase::~XKJsonBase() = default;

uint64_t XKJsonBase::maxDepth() const {
    return maxDepth_;
}

void XKJsonBase::setMaxDepth(uint64_t maxDepth) {
    maxDepth_ = maxDepth;
}

void XKJsonBase::addErrorWithCode(unsigned code, std::string description) {
    JsonErrorRef underlying;
    if (errorTrace_ && !errorTrace_->empty())
        underlying = errorTrace_->back();
    auto record = std::make_shared<const JsonError>(XKJSONErrorDomain, code, std::move(description),
                                                    std::move(underlying));
    if (observer_)
        observer_("errorTrace", true);
    if (!errorTrace_)
        errorTrace_.emplace();
    errorTrace_->push_back(std::move(record));
    if (observer_)
        observer_("errorTrace", false);
}

void XKJsonBase::clearErrorTrace() {
    if (observer_)
        observer_("errorTrace", true);
    errorTrace_.reset();
    if (observer_)
        observer_("errorTrace", false);
}

void XKJsonBase::setErrorTraceObserver(ErrorTraceObserver observer) {
    observer_ = std::move(observer);
}

JsonErrorRef XKJsonBase::lastError() const {
    if (!errorTrace_ || errorTrace_->empty())
        return nullptr;
    return errorTrace_->back();
}

} // namespace brenvo
