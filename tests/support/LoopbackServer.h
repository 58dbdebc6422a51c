// A real HTTP or HTTPS server on 127.0.0.1 (a free port) for tests of the HTTP client and the
// agent.
//
//   brenvo::test::LoopbackServer server;
//   server.reply("/lookup", 200, R"({"resultCount":1,"results":[{"version":"2.0"}]})");
//   client.sendSynchronousRequest({server.url("/lookup?id=1")});
//   EXPECT_EQ(server.requests(), std::vector<std::string>{"/lookup?id=1"});
//
// Each path (without its query) gets one behaviour; a path without one answers 404 with an empty
// body. The server runs on its own threads from construction until stop() or destruction, and
// every behaviour that waits (slow bodies, never answering) ends promptly when it stops.
//
// Given a TLS identity (support/TestCertificates.h) it speaks HTTPS only, with every behaviour
// the same: LoopbackServer secure(pki.identity(TestCertificates::Leaf::Valid));
#pragma once

#include "support/TestCertificates.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brenvo::test {

// Makes requests to 127.0.0.1 bypass any proxy named in the environment (this process and the
// processes it starts).
void bypassProxiesForLoopback();

class LoopbackServer {
public:
    struct Request {
        std::string path;   // "/lookup"
        std::string target; // "/lookup?id=123", as the client sent it
    };

    struct Reply {
        int status = 200;
        std::string body;
        std::string contentType = "application/json";
        std::vector<std::pair<std::string, std::string>> headers = {}; // sent as they are
    };

    enum class Framing { Chunked, CloseDelimited };

    // The TLS versions an HTTPS server accepts.
    enum class TlsVersions {
        Current,   // TLS 1.2 and 1.3
        BelowTls12 // TLS 1.0 and 1.1 only, as an outdated server would
    };

    LoopbackServer();
    explicit LoopbackServer(const TlsIdentity& identity,
                            TlsVersions versions = TlsVersions::Current);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:<port>" (https for a TLS server) followed by `target`.
    std::string url(std::string_view target) const;

    // A fixed reply with a Content-Length.
    void reply(std::string path, int status, std::string body,
               std::string contentType = "application/json");
    // A reply computed for each request.
    void handle(std::string path, std::function<Reply(const Request&)> handler);
    // A redirect to `location` (absolute or relative) with the given 3xx status.
    void redirect(std::string path, std::string location, int status = 302);
    // Announces the whole length of `body`, then sends one byte every `interval`.
    void slowBody(std::string path, std::string body,
                  std::chrono::milliseconds interval = std::chrono::seconds(1));
    // Announces `announcedLength` bytes, sends only `sent`, then closes the connection.
    void truncatedBody(std::string path, std::string sent, size_t announcedLength);
    // Sends `totalBytes` bytes of filler without announcing a length, chunked or delimited by
    // closing the connection; stops early when the client goes away. See bytesStreamed().
    void unboundedBody(std::string path, size_t totalBytes, Framing framing = Framing::Chunked);
    // Accepts the request and never answers (until the server stops).
    void neverAnswer(std::string path);

    // The targets of all requests received so far, oldest first.
    std::vector<std::string> requests() const;
    // Bytes that unboundedBody() behaviours managed to hand to the connection.
    size_t bytesStreamed() const;

    // Stops serving and waits for the server's threads. Called by the destructor.
    void stop();

private:
    struct Impl;
    void start();

    std::unique_ptr<Impl> impl_;
    int port_ = 0;
    bool tls_ = false;
};

} // namespace brenvo::test
