#include "support/RawServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace brenvo::test {

namespace {

constexpr std::size_t kMaxHead = 64 * 1024;

// Reads up to the blank line that ends a request head; gives what arrived when the peer stops
// sending first.
std::string readHead(int fd, const std::atomic<bool>& stopping) {
    std::string head;
    char buffer[4096];
    while (!stopping && head.size() < kMaxHead && head.find("\r\n\r\n") == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        head.append(buffer, static_cast<std::size_t>(n));
    }
    if (const std::size_t end = head.find("\r\n\r\n"); end != std::string::npos)
        head.resize(end);
    return head;
}

} // namespace

bool RawServer::Connection::send(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool RawServer::Connection::pause(std::chrono::milliseconds duration) {
    const auto end = std::chrono::steady_clock::now() + duration;
    while (!stopping_ && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return !stopping_;
}

void RawServer::Connection::reset() {
    const linger abort{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
}

RawServer::RawServer(Family family, Script script) : family_(family), script_(std::move(script)) {
    const int domain = family == Family::IPv4 ? AF_INET : AF_INET6;
    listener_ = ::socket(domain, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        return;
    sockaddr_storage address{};
    socklen_t length = 0;
    if (family == Family::IPv4) {
        auto* in = reinterpret_cast<sockaddr_in*>(&address);
        in->sin_family = AF_INET;
        in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof *in;
    } else {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
        in6->sin6_family = AF_INET6;
        in6->sin6_addr = in6addr_loopback;
        length = sizeof *in6;
    }
    auto* any = reinterpret_cast<sockaddr*>(&address);
    if (::bind(listener_, any, length) != 0 || ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, any, &length) != 0) {
        ::close(listener_);
        listener_ = -1;
        return;
    }
    port_ = ntohs(family == Family::IPv4 ? reinterpret_cast<sockaddr_in*>(&address)->sin_port
                                         : reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    thread_ = std::thread([this] { serve(); });
}

RawServer::~RawServer() {
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listener_ >= 0)
        ::close(listener_);
}

std::string RawServer::url(std::string_view target) const {
    const std::string host = family_ == Family::IPv4 ? "127.0.0.1" : "[::1]";
    return "http://" + host + ":" + std::to_string(port_) + std::string(target);
}

std::vector<std::string> RawServer::heads() const {
    const std::lock_guard lock(mutex_);
    return heads_;
}

// One connection at a time, in order: the scripts are short and the clients make one request.
void RawServer::serve() {
    while (!stopping_) {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::string head = readHead(fd, stopping_);
        {
            const std::lock_guard lock(mutex_);
            heads_.push_back(std::move(head));
        }
        Connection connection(fd, stopping_);
        script_(connection);
        ::close(fd);
    }
}

} // namespace brenvo::test
