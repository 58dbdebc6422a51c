#include "brenvo/JsonLogBridge.h"

#include "brenvo/JSON/JsonLog.h"
#include "brenvo/platform/Services.h"

namespace brenvo::detail {
namespace {

// The log is made only when a line is first written, and no run loop is touched, so a line from
// any thread binds nothing.
const bool installed = [] {
    setJsonLogHandler([](std::string_view text) { platform::Services::sharedLog().write(text); });
    return true;
}();

} // namespace

bool jsonLogBridgeInstalled() {
    return installed;
}

} // namespace brenvo::detail
