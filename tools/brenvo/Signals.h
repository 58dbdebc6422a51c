// SIGINT and SIGTERM turned into a readable file descriptor, so a main loop can end in order
// instead of being killed in the middle of a write. A second signal ends the process at once.
// The tool then exits with 128 plus the signal's number, as a shell reports a process that the
// signal ended (130 for SIGINT, 143 for SIGTERM).
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

// The number of the first SIGINT or SIGTERM that a SignalPipe caught in this process, or 0.
int receivedSignal();

} // namespace brenvo::tool
