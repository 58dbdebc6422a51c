// SIGINT and SIGTERM turned into a readable file descriptor, so a main loop can end in order
// instead of being killed in the middle of a write. A second signal ends the process at once.
#pragma once

namespace brenvo::tool {

class SignalPipe {
public:
    SignalPipe();
    ~SignalPipe();
    SignalPipe(const SignalPipe&) = delete;
    SignalPipe& operator=(const SignalPipe&) = delete;

    // Readable once a signal has arrived.
    int fd() const;
    // Blocks until a signal arrives.
    void wait() const;
};

} // namespace brenvo::tool
