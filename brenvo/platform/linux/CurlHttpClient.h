// The HTTP client of the default services, on libcurl's multi interface.
//
//   brenvo::platform::CurlHttpClient http;
//   auto request = http.startRequest({"https://example.org/lookup?id=1"}, loop,
//                                    [](brenvo::platform::URLResponse response) { ... });
//
// A request runs on the run loop it is started on: its sockets and its timer are descriptor
// watches of that loop, so the loop (and a GLib or Qt loop that drives it) never waits for the
// network, and no other thread runs anything of the caller's. One GET per request. The request's
// time-out covers the whole transfer (name lookup, connection, TLS, redirects and body). Names
// (the server's, a redirect's, a proxy's) are looked up on libcurl's resolver threads, never on
// the loop: a lookup that never returns ends the request at its time-out all the same, and
// destroying the request does not wait for it; its thread and descriptor go once it returns.
// Redirects are followed, at most five: from http to http or https, from https to https only.
// Servers must speak TLS 1.2 or later, whatever the system's OpenSSL configuration allows.
// Server certificates are checked against the system's CA store, or the bundle the options
// name; the usual proxy variables (http_proxy, https_proxy, no_proxy...) apply. A body larger
// than the size cap is dropped as soon as it passes the cap, and the response says so
// (tooLarge). Any failure, including a body cut short, gives no body and a diagnostic in
// `error`; the HTTP status is not looked at, so an error page is returned like any other body.
#pragma once

#include "brenvo/Export.h"
#include "brenvo/platform/HttpClient.h"

#include <cstddef>
#include <optional>
#include <string>

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
        // A file of PEM certificates trusted instead of the system's store (a test's own CA).
        std::optional<std::string> caBundle = std::nullopt;
    };

    CurlHttpClient();
    explicit CurlHttpClient(Options options);

    std::unique_ptr<HttpRequest> startRequest(const URLRequest& request, RunLoop& loop,
                                              Completion completion) override;

    // The time-out applied to `request`, in milliseconds: its own, bounded by maxTimeout; a
    // time-out that is not a positive number stands for the default of 10 seconds.
    long effectiveTimeoutMs(const URLRequest& request) const;

private:
    Options options_;
};

} // namespace brenvo::platform
