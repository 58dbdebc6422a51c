#include "brenvo/platform/HttpClient.h"

#include "brenvo/platform/Clock.h"
#include "brenvo/platform/RunLoop.h"

#include <optional>

namespace brenvo::platform {

HttpRequest::~HttpRequest() = default;

URLResponse HttpClient::sendSynchronousRequest(const URLRequest& request) {
    SystemClock clock;
    RunLoop loop(clock);
    std::optional<URLResponse> response;
    const auto inFlight = startRequest(request, loop, [&](URLResponse answer) {
        response = std::move(answer);
        loop.quit();
    });
    while (!response) {
        // A request leaves something on the loop until it completes.
        if (!loop.runMode(kDefaultRunLoopMode, std::chrono::hours(1)) && !response) {
            URLResponse none;
            none.error = "the request stopped without an answer";
            return none;
        }
    }
    return std::move(*response);
}

} // namespace brenvo::platform
