// One synchronous HTTP GET: the body bytes, or nothing.
#pragma once

#include "brenvo/Export.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace brenvo::platform {

struct URLRequest {
    std::string url;
    int cachePolicy = 0;           // the protocol's own caching rules
    double timeoutInterval = 10.0; // seconds, for the whole transfer
};

struct URLResponse {
    std::vector<uint8_t> body; // empty when nothing arrived
    bool tooLarge = false;     // the body passed the size cap and was dropped
    std::string error;         // why nothing arrived, for diagnostics; empty on success
};

class BRENVO_EXPORT HttpClient {
public:
    // Bodies beyond this many bytes are dropped.
    static constexpr size_t kMaxResponseSize = 4 * 1024 * 1024;

    virtual ~HttpClient();
    // Sends a GET and blocks until the body has arrived or the time-out has passed.
    virtual URLResponse sendSynchronousRequest(const URLRequest& request) = 0;
};

} // namespace brenvo::platform
