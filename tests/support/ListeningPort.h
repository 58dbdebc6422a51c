// A port on 127.0.0.1 that listens and never accepts: a client's connection waits in its queue,
// so a test can tell whether anybody connected at all, whatever protocol the client spoke.
//
//   brenvo::test::ListeningPort port;
//   client.sendSynchronousRequest({"dict://127.0.0.1:" + std::to_string(port.port()) + "/"});
//   EXPECT_FALSE(port.connected());
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace brenvo::test {

class ListeningPort {
public:
    ListeningPort() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::listen(fd_, 8) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port_ = ntohs(address.sin_port);
    }
    ~ListeningPort() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    ListeningPort(const ListeningPort&) = delete;
    ListeningPort& operator=(const ListeningPort&) = delete;

    // 0 when no port could be had.
    int port() const { return port_; }
    // True when a connection has reached the port (it waits to be accepted).
    bool connected() const {
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

} // namespace brenvo::test
