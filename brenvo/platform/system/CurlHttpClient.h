// The HTTP client of the default services, on libcurl.
//
//   brenvo::platform::CurlHttpClient http;
//   auto response = http.sendSynchronousRequest({"https://example.org/lookup?id=1"});
//   if (!response.body.empty()) ...
//
// One GET per call, blocking the caller. The request's time-out covers the whole transfer
// (name lookup, connection, TLS, redirects and body). Redirects are followed, at most five, and
// only to http and https. Server certificates are checked against the system's CA store; the
// usual proxy variables (http_proxy, https_proxy, no_proxy...) apply. A body larger than the
// size cap is dropped as soon as it passes the cap, and the response says so (tooLarge). Any
// failure, including a body cut short, gives no body and a diagnostic in `error`; the HTTP
// status is not looked at, so an error page is returned like any other body.
#pragma once

#include "brenvo/Export.h"
#include "brenvo/platform/HttpClient.h"

#include <cstddef>
#include <optional>

namespace brenvo::platform {

class BRENVO_EXPORT CurlHttpClient final : public HttpClient {
public:
    struct Options {
        // An upper bound on every request's time-out, in seconds (tests use a short one).
        std::optional<double> maxTimeout;
        // Bodies beyond this many bytes are dropped.
        size_t maxResponseSize = kMaxResponseSize;
        // The most redirects followed for one request.
        long maxRedirects = 5;
    };

    CurlHttpClient();
    explicit CurlHttpClient(Options options);

    URLResponse sendSynchronousRequest(const URLRequest& request) override;

    // The time-out applied to `request`, in milliseconds: its own, bounded by maxTimeout; a
    // time-out that is not a positive number stands for the default of 10 seconds.
    long effectiveTimeoutMs(const URLRequest& request) const;

private:
    Options options_;
};

} // namespace brenvo::platform
