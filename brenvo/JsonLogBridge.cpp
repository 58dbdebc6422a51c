// Routes the JSON library's failure lines (the convenience functions') into the platform log of
// the process-wide services, so a host that installs a log sink receives them as well. The JSON
// library cannot do this itself: it depends on nothing else of Brenvo.
#include "brenvo/JSON/JsonLog.h"
#include "brenvo/platform/Services.h"

namespace brenvo::detail {
namespace {

// Installed when the library is loaded; the log is made only when a line is first written, and
// no run loop is touched, so a line from any thread binds nothing.
const bool installed = [] {
    setJsonLogHandler([](std::string_view text) { platform::Services::sharedLog().write(text); });
    return true;
}();

} // namespace
} // namespace brenvo::detail
