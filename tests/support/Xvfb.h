// An Xvfb server for one test process, on the first free display number, with a 1024x768 screen.
// It is told to end when the process ends, however the process ends.
//
//   static brenvo::test::Xvfb* xvfb = new brenvo::test::Xvfb();
//   ::setenv("DISPLAY", xvfb->display().c_str(), 1);
#pragma once

#include <string>
#include <sys/types.h>

namespace brenvo::test {

// The first line a server started by a test writes on `fd` to say it is ready (a display number,
// a bus address), without its newline; what arrived when nothing more comes for `timeoutMs`.
std::string readStartupLine(int fd, int timeoutMs);

class Xvfb {
public:
    Xvfb();
    ~Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    // ":N", or empty when the server could not be started.
    const std::string& display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

} // namespace brenvo::test
