#include "Signals.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace brenvo::tool {

namespace {

int pipeFds[2] = {-1, -1};
volatile sig_atomic_t received = 0;

extern "C" void onSignal(int signal) {
    if (received) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    received = signal;
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] ssize_t written = ::write(pipeFds[1], &byte, 1);
    errno = saved;
}

} // namespace

SignalPipe::SignalPipe() {
    if (pipeFds[0] < 0 && ::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

SignalPipe::~SignalPipe() {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

int SignalPipe::fd() const {
    return pipeFds[0];
}

void SignalPipe::wait() const {
    pollfd entry{pipeFds[0], POLLIN, 0};
    while (!received) {
        if (::poll(&entry, 1, -1) < 0 && errno != EINTR)
            return;
    }
}

int receivedSignal() {
    return received;
}

} // namespace brenvo::tool
