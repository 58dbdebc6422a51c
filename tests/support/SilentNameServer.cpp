#include "support/SilentNameServer.h"

#include "support/TempDir.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace brenvo::test {

namespace {

size_t entriesOf(const char* folder) {
    size_t count = 0;
    if (DIR* dir = ::opendir(folder)) {
        while (const dirent* entry = ::readdir(dir))
            count += entry->d_name[0] != '.' ? 1 : 0;
        ::closedir(dir);
    }
    return count;
}

// A UDP socket on port 53 of some 127.x.y.z address that nobody else uses; it reads nothing.
int silentSocket(std::string& address, std::string& why) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    for (unsigned attempt = 0; fd >= 0 && attempt < 64; ++attempt) {
        const unsigned pick = (static_cast<unsigned>(::getpid()) * 64 + attempt) % 60000;
        address = "127.53." + std::to_string(pick / 250) + "." + std::to_string(pick % 250 + 2);
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_port = htons(53);
        ::inet_pton(AF_INET, address.c_str(), &where.sin_addr);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0)
            return fd;
        if (errno != EADDRINUSE)
            break;
    }
    why = std::string("no UDP port 53 on the loopback network: ") + std::strerror(errno);
    if (fd >= 0)
        ::close(fd);
    return -1;
}

bool bindOver(const std::filesystem::path& file, const char* target, std::string& why) {
    if (::mount(file.c_str(), target, nullptr, MS_BIND, nullptr) == 0)
        return true;
    why = std::string("cannot mount over ") + target + ": " + std::strerror(errno);
    return false;
}

} // namespace

std::string runWithSilentNameServer(int giveUpSeconds, const std::function<void()>& scenario) {
    TempDir dir;
    std::string why;
    std::thread([&] {
        if (::unshare(CLONE_NEWNS) != 0) {
            why = std::string("no private mount namespace: ") + std::strerror(errno);
            return;
        }
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            why = std::string("mounts cannot be made private: ") + std::strerror(errno);
            return;
        }
        std::string address;
        const int silent = silentSocket(address, why);
        if (silent < 0)
            return;
        dir.writeFile("resolv.conf", "nameserver " + address + "\noptions timeout:" +
                                         std::to_string(giveUpSeconds) + " attempts:1\n");
        dir.writeFile("nsswitch.conf", "hosts: files dns\n");
        if (bindOver(dir / "resolv.conf", "/etc/resolv.conf", why) &&
            bindOver(dir / "nsswitch.conf", "/etc/nsswitch.conf", why))
            scenario();
        ::close(silent);
    }).join();
    return why;
}

ProcessCounts processCounts() {
    return {entriesOf("/proc/self/task"), entriesOf("/proc/self/fd")};
}

bool backTo(const ProcessCounts& before, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (true) {
        const ProcessCounts now = processCounts();
        if (now.threads <= before.threads && now.descriptors <= before.descriptors)
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::chrono::milliseconds longestTickGap(platform::RunLoop& loop, std::chrono::nanoseconds limit) {
    auto last = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration longest{};
    const auto tick = [&] {
        const auto now = std::chrono::steady_clock::now();
        longest = std::max(longest, now - last);
        last = now;
    };
    std::shared_ptr<platform::Timer> timer;
    std::function<void()> again = [&] {
        tick();
        timer = platform::Timer::timerWithTimeInterval(0.01, again);
        loop.addTimer(timer, platform::kDefaultRunLoopMode);
    };
    timer = platform::Timer::timerWithTimeInterval(0.01, again);
    loop.addTimer(timer, platform::kDefaultRunLoopMode);
    loop.runMode(platform::kDefaultRunLoopMode, limit);
    tick();
    timer->invalidate();
    return std::chrono::duration_cast<std::chrono::milliseconds>(longest);
}

} // namespace brenvo::test
