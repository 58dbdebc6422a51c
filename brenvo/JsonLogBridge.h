// Routes the JSON library's failure lines (the convenience functions') into the platform log of
// the process-wide services, so a host that installs a log sink receives them as well. The JSON
// library cannot do this itself: it depends on nothing else of Brenvo.
#pragma once

namespace brenvo::detail {

// The route is set when the library is loaded, before any host code runs, so that a handler the
// host sets later (setJsonLogHandler) replaces it. The agent calls this: a static link that takes
// the agent takes the route with it. True once the route was set.
bool jsonLogBridgeInstalled();

} // namespace brenvo::detail
