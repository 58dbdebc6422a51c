// A TCP server on a loopback address that speaks no protocol of its own: each connection's
// request head is read and kept, then a script writes whatever bytes it likes, as slowly as it
// likes, and ends the connection as it likes (a reset included). For the transfers an HTTP
// server library will not produce: headers that never end, a reset in the middle of a body, a
// proxy's CONNECT, IPv6.
//
//   RawServer server(RawServer::Family::IPv4, [](RawServer::Connection& c) {
//       c.send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\npartial");
//       c.reset();
//   });
//   client.sendSynchronousRequest({server.url("/lookup")});
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace brenvo::test {

class RawServer {
public:
    enum class Family { IPv4, IPv6 };

    class Connection {
    public:
        Connection(int fd, const std::atomic<bool>& stopping) : fd_(fd), stopping_(stopping) {}
        // Writes all of `bytes`; false once the peer has gone.
        bool send(std::string_view bytes);
        // Waits `duration`, or less when the server stops; false when it stopped.
        bool pause(std::chrono::milliseconds duration);
        // Ends the connection with a TCP reset instead of an orderly close.
        void reset();

    private:
        int fd_;
        const std::atomic<bool>& stopping_;
    };

    using Script = std::function<void(Connection&)>;

    // Listens on 127.0.0.1 or ::1 (a free port). listening() is false where the address family
    // is not available (a machine without IPv6).
    RawServer(Family family, Script script);
    ~RawServer();
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    bool listening() const { return listener_ >= 0; }
    // "http://127.0.0.1:<port>" or "http://[::1]:<port>", followed by `target`.
    std::string url(std::string_view target) const;
    // The request heads received so far (request line and header lines), oldest first.
    std::vector<std::string> heads() const;

private:
    void serve();

    Family family_;
    Script script_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> heads_;
    std::thread thread_;
};

} // namespace brenvo::test
