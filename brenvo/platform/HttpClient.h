// One HTTP GET, asynchronous on a run loop: the body bytes, or nothing and why, with the status
// and the "Retry-After" header of whatever response arrived.
//
//   auto request = http.startRequest({url}, loop, [](platform::URLResponse response) {
//       if (!response.body.empty()) ...            // on the loop's thread, later
//   });
//   request.reset();                               // cancels: the completion never runs
#pragma once

#include "brenvo/Export.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace brenvo::platform {

class RunLoop;

struct URLRequest {
    std::string url;
    int cachePolicy = 0;           // the protocol's own caching rules
    double timeoutInterval = 10.0; // seconds, for the whole transfer
};

struct URLResponse {
    std::vector<uint8_t> body; // empty when nothing arrived
    bool tooLarge = false;     // the body passed the size cap and was dropped
    std::string error;         // why nothing arrived, for diagnostics; empty on success
    // Nothing arrived because the network failed: no route, the name not resolved, the
    // connection refused or timed out without any response.
    bool networkFailed = false;
    // The status of the last response (after redirects), 0 when none arrived, and its
    // "Retry-After" header as sent, empty when it had none.
    int status = 0;
    std::string retryAfter;
    // A connection to the server was made (the failure came after it: a time-out, a broken reply).
    bool connected = false;
};

// A request in flight. Destroying it cancels the request: its completion is never called, and
// nothing of it is left on the loop.
class BRENVO_EXPORT HttpRequest {
public:
    virtual ~HttpRequest();
};

class BRENVO_EXPORT HttpClient {
public:
    // Bodies beyond this many bytes are dropped.
    static constexpr size_t kMaxResponseSize = size_t{4} * 1024 * 1024;

    using Completion = std::function<void(URLResponse response)>;

    virtual ~HttpClient();

    // Starts a GET whose transfer runs on `loop`'s descriptor watches, and returns at once. The
    // completion runs exactly once on the loop's thread, from the loop (never inside this
    // call), unless the returned request is destroyed first. `loop` must outlive the request.
    virtual std::unique_ptr<HttpRequest> startRequest(const URLRequest& request, RunLoop& loop,
                                                      Completion completion) = 0;

    // Sends a GET and blocks until the body has arrived or the time-out has passed, on a run
    // loop of its own. For tools and tests; an agent never blocks its loop.
    URLResponse sendSynchronousRequest(const URLRequest& request);
};

} // namespace brenvo::platform
