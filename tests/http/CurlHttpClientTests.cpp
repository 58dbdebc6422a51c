// The libcurl client against a real server on the loopback interface.
#include "brenvo/platform/RunLoop.h"
#include "brenvo/platform/linux/CurlHttpClient.h"
#include "support/ListeningPort.h"
#include "support/LoopbackServer.h"
#include "support/RawServer.h"
#include "support/SilentNameServer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

using brenvo::platform::CurlHttpClient;
using brenvo::platform::URLRequest;
using brenvo::platform::URLResponse;
using brenvo::test::LoopbackServer;
using brenvo::test::RawServer;
using namespace std::chrono_literals;

std::string text(const URLResponse& response) {
    return std::string(response.body.begin(), response.body.end());
}

// A port on 127.0.0.1 that is bound but not listening: connecting to it is refused, and no other
// test can take it while the socket is open.
class RefusingPort {
public:
    RefusingPort() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port_ = ntohs(address.sin_port);
    }
    ~RefusingPort() { ::close(fd_); }
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

// Redirects /hop<n> -> /hop<n+1> ... -> /hop<last> -> /final.
void chain(LoopbackServer& server, int last) {
    for (int n = 0; n < last; ++n)
        server.redirect("/hop" + std::to_string(n), "/hop" + std::to_string(n + 1));
    server.redirect("/hop" + std::to_string(last), "/final", 301);
    server.reply("/final", 200, "arrived");
}

struct Arrives {
    const char* name;
    void (*setUp)(LoopbackServer&);
    const char* target;
    std::string expected;
};

class BodyArrives : public testing::TestWithParam<Arrives> {};

TEST_P(BodyArrives, WholeBodyWhateverTheStatus) {
    LoopbackServer server;
    GetParam().setUp(server);
    CurlHttpClient client(CurlHttpClient::Options{.maxTimeout = 5.0});
    URLResponse response = client.sendSynchronousRequest({server.url(GetParam().target)});
    EXPECT_EQ(text(response), GetParam().expected);
    EXPECT_FALSE(response.tooLarge);
    EXPECT_EQ(response.error, "");
}

INSTANTIATE_TEST_SUITE_P(
    Replies, BodyArrives,
    testing::Values(
        Arrives{"Ok", [](LoopbackServer& s) { s.reply("/lookup", 200, R"({"resultCount":0})"); },
                "/lookup?id=1", R"({"resultCount":0})"},
        Arrives{"NotFoundPage",
                [](LoopbackServer& s) { s.reply("/x", 404, "<h1>missing</h1>", "text/html"); },
                "/x", "<h1>missing</h1>"},
        Arrives{"ServerErrorPage",
                [](LoopbackServer& s) { s.reply("/x", 500, "<html>oops</html>", "text/html"); },
                "/x", "<html>oops</html>"},
        Arrives{"NotUtf8",
                [](LoopbackServer& s) { s.reply("/x", 200, std::string("\xff\xfe\x00\xc3(", 5)); },
                "/x", std::string("\xff\xfe\x00\xc3(", 5)},
        Arrives{"FiveRedirects", [](LoopbackServer& s) { chain(s, 5); }, "/hop1", "arrived"},
        Arrives{"RelativeAndPermanentRedirects",
                [](LoopbackServer& s) {
                    s.redirect("/a", "b", 308);
                    s.redirect("/b", "/c", 307);
                    s.reply("/c", 200, "c");
                },
                "/a", "c"}),
    [](const auto& row) { return std::string(row.param.name); });

struct NothingArrives {
    const char* name;
    void (*setUp)(LoopbackServer&);
    const char* target;
};

class NoBody : public testing::TestWithParam<NothingArrives> {};

TEST_P(NoBody, FailuresGiveNoBodyAndSayWhy) {
    LoopbackServer server;
    GetParam().setUp(server);
    CurlHttpClient client(CurlHttpClient::Options{.maxTimeout = 1.5});
    auto started = std::chrono::steady_clock::now();
    URLResponse response = client.sendSynchronousRequest({server.url(GetParam().target)});
    auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_TRUE(response.body.empty()) << text(response);
    EXPECT_NE(response.error, "");
    EXPECT_FALSE(response.tooLarge);
    EXPECT_TRUE(response.connected); // the server was reached, and failed it
    // The time-out bounds the whole transfer, however the server drips.
    EXPECT_LT(elapsed, 4s);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, NoBody,
    testing::Values(
        NothingArrives{"NeverAnswers", [](LoopbackServer& s) { s.neverAnswer("/x"); }, "/x"},
        NothingArrives{
            "OneBytePerSecond",
            [](LoopbackServer& s) { s.slowBody("/x", R"({"resultCount":1,"results":[]})", 1s); },
            "/x"},
        NothingArrives{"Truncated",
                       [](LoopbackServer& s) { s.truncatedBody("/x", R"({"results":[)", 400); },
                       "/x"},
        NothingArrives{"SixRedirects", [](LoopbackServer& s) { chain(s, 5); }, "/hop0"},
        NothingArrives{"RedirectLoop", [](LoopbackServer& s) { s.redirect("/x", "/x"); }, "/x"},
        NothingArrives{"RedirectToFile",
                       [](LoopbackServer& s) { s.redirect("/x", "file:///etc/passwd"); }, "/x"},
        NothingArrives{"RedirectToOtherScheme",
                       [](LoopbackServer& s) { s.redirect("/x", "ftp://127.0.0.1/"); }, "/x"}),
    [](const auto& row) { return std::string(row.param.name); });

// A refused connection and texts that are no usable URL.
TEST(CurlHttpClient, RefusedOrMalformedGivesNothing) {
    RefusingPort port;
    ASSERT_NE(port.port(), 0);
    CurlHttpClient client(CurlHttpClient::Options{.maxTimeout = 2.0});
    for (std::string url : {"http://127.0.0.1:" + std::to_string(port.port()) + "/lookup?id=1",
                            std::string(), std::string("http://"), std::string("not a url"),
                            std::string("http://127.0.0.1\0/x", 19)}) {
        URLResponse response = client.sendSynchronousRequest({url});
        EXPECT_TRUE(response.body.empty()) << url;
        EXPECT_NE(response.error, "") << url;
        EXPECT_FALSE(response.connected) << url;
    }
}

// Only the web is asked, from the first request on: a URL of another scheme reads no file and
// reaches no server.
TEST(CurlHttpClient, AsksOnlyOverHttpAndHttps) {
    brenvo::test::TempDir dir;
    dir.writeFile("reply.json", R"({"results":[{"version":"9.0"}]})");
    brenvo::test::ListeningPort port;
    ASSERT_NE(port.port(), 0);
    const std::string server = "127.0.0.1:" + std::to_string(port.port());
    CurlHttpClient client(CurlHttpClient::Options{.maxTimeout = 2.0});
    for (const std::string& url :
         {"file://" + (dir / "reply.json").string(), "FILE://" + (dir / "reply.json").string(),
          "dict://" + server + "/d:version", "ftp://" + server + "/", "gopher://" + server + "/",
          "telnet://" + server + "/"}) {
        URLResponse response = client.sendSynchronousRequest({url});
        EXPECT_TRUE(response.body.empty()) << url << ": " << text(response);
        EXPECT_NE(response.error, "") << url;
        EXPECT_FALSE(port.connected()) << url;
    }
}

struct Oversized {
    const char* name;
    void (*setUp)(LoopbackServer&);
};

class TooLarge : public testing::TestWithParam<Oversized> {};

// 50 MB without a length: the transfer stops at the cap instead of reading everything.
TEST_P(TooLarge, StopsAtTheCap) {
    LoopbackServer server;
    GetParam().setUp(server);
    CurlHttpClient client(CurlHttpClient::Options{.maxTimeout = 20.0});
    auto started = std::chrono::steady_clock::now();
    URLResponse response = client.sendSynchronousRequest({server.url("/big")});
    auto elapsed = std::chrono::steady_clock::now() - started;
    server.stop();
    EXPECT_TRUE(response.tooLarge);
    EXPECT_TRUE(response.body.empty());
    EXPECT_NE(response.error, "");
    EXPECT_LT(elapsed, 10s);
    EXPECT_LT(server.bytesStreamed(), 30u * 1000 * 1000);
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, TooLarge,
    testing::Values(
        Oversized{"Chunked",
                  [](LoopbackServer& s) {
                      s.unboundedBody("/big", 50'000'000, LoopbackServer::Framing::Chunked);
                  }},
        Oversized{"CloseDelimited",
                  [](LoopbackServer& s) {
                      s.unboundedBody("/big", 50'000'000, LoopbackServer::Framing::CloseDelimited);
                  }},
        Oversized{"AnnouncedLength",
                  [](LoopbackServer& s) { s.reply("/big", 200, std::string(5 << 20, 'x')); }}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(CurlHttpClient, CapIsInclusive) {
    LoopbackServer server;
    server.reply("/exact", 200, std::string(1000, 'a'));
    server.unboundedBody("/over", 1001);
    CurlHttpClient client(CurlHttpClient::Options{.maxTimeout = 5.0, .maxResponseSize = 1000});
    URLResponse exact = client.sendSynchronousRequest({server.url("/exact")});
    EXPECT_EQ(exact.body.size(), 1000u);
    EXPECT_FALSE(exact.tooLarge);
    URLResponse over = client.sendSynchronousRequest({server.url("/over")});
    EXPECT_TRUE(over.body.empty());
    EXPECT_TRUE(over.tooLarge);
}

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* previous = std::getenv(name))
            saved_ = previous;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (saved_)
            ::setenv(name_, saved_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> saved_;
};

// The proxies the environment names are used: the request reaches the proxy, in the form each
// scheme takes through one.
TEST(CurlHttpClient, GoesThroughTheProxiesOfTheEnvironment) {
    const struct {
        const char* variable;
        const char* url;
        const char* requestLine;
    } rows[] = {
        {"http_proxy", "http://store.invalid/lookup?id=7",
         "GET http://store.invalid/lookup?id=7 HTTP/1.1"},
        {"https_proxy", "https://store.invalid/lookup?id=7", "CONNECT store.invalid:443 HTTP/1.1"},
    };
    for (const auto& row : rows) {
        RawServer proxy(RawServer::Family::IPv4, [](RawServer::Connection& c) {
            c.send("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n");
        });
        const ScopedEnv variable(row.variable, proxy.url(""));
        CurlHttpClient client(CurlHttpClient::Options{.maxTimeout = 5.0});
        client.sendSynchronousRequest({row.url});
        const std::vector<std::string> heads = proxy.heads();
        ASSERT_EQ(heads.size(), 1u) << row.variable;
        EXPECT_EQ(heads[0].substr(0, heads[0].find('\r')), row.requestLine);
    }
}

// Transfers as the network really delivers them, on a server that writes raw bytes.
struct WireCase {
    const char* name;
    RawServer::Family family;
    RawServer::Script script;
    std::string body; // what arrives; empty: the request fails and says why
};

std::ostream& operator<<(std::ostream& out, const WireCase& row) {
    return out << row.name;
}

const std::string
    kGzipped("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03\xab\xae\x05\x00\x43\xbf\xa6\xa3\x02"
             "\x00\x00\x00",
             22);

const WireCase kWireCases[] = {
    // The time-out holds however slowly headers trickle in.
    {"HeadersThatNeverEnd", RawServer::Family::IPv4,
     [](RawServer::Connection& c) {
         c.send("HTTP/1.1 200 OK\r\nX-Drip: ");
         while (c.pause(std::chrono::milliseconds(100)) && c.send("x")) {
         }
     },
     ""},
    {"ResetInTheBody", RawServer::Family::IPv4,
     [](RawServer::Connection& c) {
         c.send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(100, 'a'));
         c.pause(std::chrono::milliseconds(50));
         c.reset();
     },
     ""},
    // Compression is never asked for, so a compressed body is never expanded: it arrives as
    // the bytes sent, within the size cap as they are.
    {"CompressedBodyKeptAsSent", RawServer::Family::IPv4,
     [](RawServer::Connection& c) {
         c.send("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 22\r\n\r\n" +
                kGzipped);
     },
     kGzipped},
    {"IPv6Loopback", RawServer::Family::IPv6,
     [](RawServer::Connection& c) { c.send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}"); },
     "{}"},
};

class Wire : public testing::TestWithParam<WireCase> {};

TEST_P(Wire, ArrivesWholeOrFailsWithinTheTimeOut) {
    const WireCase& row = GetParam();
    RawServer server(row.family, row.script);
    if (!server.listening())
        GTEST_SKIP() << "no loopback address of this family here";
    CurlHttpClient client(CurlHttpClient::Options{.maxTimeout = 1.0});
    const auto started = std::chrono::steady_clock::now();
    const URLResponse response = client.sendSynchronousRequest({server.url("/lookup?id=1")});
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
    EXPECT_EQ(text(response), row.body);
    EXPECT_EQ(response.error.empty(), !row.body.empty()) << response.error;
    const std::vector<std::string> heads = server.heads();
    ASSERT_EQ(heads.size(), 1u);
    std::string head = heads[0];
    std::transform(head.begin(), head.end(), head.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    EXPECT_EQ(head.find("accept-encoding"), std::string::npos) << heads[0];
}

INSTANTIATE_TEST_SUITE_P(Transfers, Wire, testing::ValuesIn(kWireCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(CurlHttpClient, TimeOutFollowsTheRequestWithinTheCeiling) {
    struct Row {
        double requested;
        std::optional<double> ceiling;
        long expectedMs;
    };
    for (Row row : {Row{10.0, std::nullopt, 10000}, Row{10.0, 0.25, 250}, Row{0.1, 5.0, 100},
                    Row{0.0, std::nullopt, 10000}, Row{-3.0, 2.0, 2000},
                    Row{std::nan(""), std::nullopt, 10000}, Row{1e300, std::nullopt, 86400000}}) {
        CurlHttpClient client(CurlHttpClient::Options{.maxTimeout = row.ceiling});
        URLRequest request{"http://127.0.0.1/", 0, row.requested};
        EXPECT_EQ(client.effectiveTimeoutMs(request), row.expectedMs) << row.requested;
    }
}

} // namespace

namespace {

using brenvo::platform::ManualClock;
using brenvo::platform::RunLoop;

// A request runs on the loop it was started on: its completion comes from the loop, never from
// startRequest itself, even for a request that cannot start; a request dropped while in flight
// never completes and leaves nothing on the loop.
TEST(CurlHttpClient, RequestsRunOnTheLoopAndDropCleanly) {
    LoopbackServer server;
    server.reply("/ok", 200, "fine");
    server.neverAnswer("/silent");
    CurlHttpClient client(CurlHttpClient::Options{.maxTimeout = 5.0});
    ManualClock clock;
    RunLoop loop(clock);

    std::vector<std::string> completed;
    auto record = [&completed](URLResponse response) {
        completed.push_back(response.body.empty() ? "error: " + response.error : text(response));
    };
    auto ok = client.startRequest({server.url("/ok")}, loop, record);
    auto bad = client.startRequest({""}, loop, record);
    EXPECT_TRUE(completed.empty());
    EXPECT_EQ(loop.pendingIO(), 2u);
    EXPECT_TRUE(loop.finishPendingIO(5s));
    std::sort(completed.begin(), completed.end());
    EXPECT_EQ(completed, (std::vector<std::string>{"error: no URL", "fine"}));

    auto silent = client.startRequest({server.url("/silent")}, loop, record);
    EXPECT_FALSE(loop.finishPendingIO(300ms));
    EXPECT_EQ(server.requests().back(), "/silent");
    silent.reset();
    EXPECT_EQ(loop.pendingIO(), 0u);
    EXPECT_EQ(loop.watches().size(), 1u); // the loop's own wake-up descriptor
    loop.runMode(brenvo::platform::kDefaultRunLoopMode, 10s);
    EXPECT_EQ(completed.size(), 2u);
    server.stop();
}

// A name server that never answers holds neither the loop nor the request's end, whichever name
// is looked up: the server's, a redirect's, the proxy's. A request whose lookup hangs is
// destroyed at once, and once the lookups have returned nothing of them is left.
TEST(CurlHttpClient, NameLookupsThatNeverReturnHoldNoLoopAndLeaveNoThread) {
    LoopbackServer server;
    server.redirect("/away", "http://elsewhere.invalid/lookup");
    server.reply("/ok", 200, "fine");
    const struct {
        const char* name;
        std::string url;
        const char* proxy;
    } rows[] = {
        {"server", "http://store.invalid/lookup?id=7", nullptr},
        {"redirect", server.url("/away"), nullptr},
        {"proxy", "https://store.invalid/lookup?id=7", "http://proxy.invalid:3128"},
    };
    const std::string why = brenvo::test::runWithSilentNameServer(3, [&] {
        brenvo::platform::SystemClock clock;
        RunLoop loop(clock);
        CurlHttpClient client(CurlHttpClient::Options{.maxTimeout = 1.0});
        // What libcurl sets up once per process is in place before the counts are taken.
        EXPECT_EQ(text(client.sendSynchronousRequest({server.url("/ok")})), "fine");
        const brenvo::test::ProcessCounts before = brenvo::test::processCounts();
        for (const auto& row : rows) {
            std::optional<ScopedEnv> proxy;
            if (row.proxy)
                proxy.emplace("https_proxy", row.proxy);
            std::optional<URLResponse> response;
            const auto start = std::chrono::steady_clock::now();
            auto request = client.startRequest({row.url}, loop, [&](URLResponse r) {
                response = std::move(r);
                loop.quit();
            });
            const auto gap = brenvo::test::longestTickGap(loop, 5s);
            ASSERT_TRUE(response) << row.name;
            EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms) << row.name;
            EXPECT_TRUE(response->error.starts_with("Resolving timed out after "))
                << row.name << ": " << response->error;
            EXPECT_LT(gap, 250ms) << row.name;
        }
        auto hanging = client.startRequest({"http://store.invalid/"}, loop, [](URLResponse) {
            ADD_FAILURE() << "a destroyed request completed";
        });
        loop.runMode(brenvo::platform::kDefaultRunLoopMode, 200ms);
        const auto start = std::chrono::steady_clock::now();
        hanging.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 250ms);
        EXPECT_TRUE(brenvo::test::backTo(before, 10s));
    });
    if (!why.empty())
        GTEST_SKIP() << why;
}

} // namespace
