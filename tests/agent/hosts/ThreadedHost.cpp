// A host application with an agent on its main thread and another on a worker thread, each on
// its own run loop with the default services.
//
//   threaded_host churn <n>   both threads make and destroy <n> agents one after the other, and
//                             post "BrenvoReleaseWindowClosed" while the other's agents observe
//   threaded_host rearm       the main thread posts "BrenvoReleaseWindowClosed" once; the
//                             worker's agent must re-arm on the worker's own thread
//
// Exit status: 0 when all went as it should; 3 when the worker's agent never re-armed within 10
// seconds, 4 when it re-armed on another thread.
#include "brenvo/Brenvo.h"
#include "brenvo/BrenvoKeys.h"
#include "brenvo/platform/NotificationCenter.h"
#include "brenvo/platform/RunLoop.h"
#include "brenvo/platform/Services.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace {

using brenvo::platform::NotificationCenter;
using brenvo::platform::RunLoop;

void churn(int agents) {
    for (int i = 0; i < agents; ++i) {
        brenvo::Brenvo agent;
        // A pass of the loop: notifications posted on the other thread arrive here.
        RunLoop::currentRunLoop().runMode(brenvo::platform::kDefaultRunLoopMode,
                                          std::chrono::milliseconds(1));
        NotificationCenter::defaultCenter().postNotificationName(brenvo::kBrenvoReleaseWindowClosed,
                                                                 nullptr);
    }
}

int rearm() {
    std::atomic<bool> ready{false};
    std::atomic<int> result{3};
    std::thread::id worker;
    std::mutex mutex;
    brenvo::platform::Services::sharedLog().setSink([&](std::string_view line) {
        if (!ready || line.find("Next Update Check in") == std::string_view::npos)
            return;
        std::lock_guard<std::mutex> lock(mutex);
        result = std::this_thread::get_id() == worker ? 0 : 4;
    });
    std::thread thread([&] {
        {
            std::lock_guard<std::mutex> lock(mutex);
            worker = std::this_thread::get_id();
        }
        brenvo::Brenvo agent;
        ready = true;
        RunLoop& loop = RunLoop::currentRunLoop();
        for (int pass = 0; pass < 1000 && result == 3; ++pass)
            loop.runMode(brenvo::platform::kDefaultRunLoopMode, std::chrono::milliseconds(10));
    });
    while (!ready)
        std::this_thread::yield();
    NotificationCenter::defaultCenter().postNotificationName(brenvo::kBrenvoReleaseWindowClosed,
                                                             nullptr);
    thread.join();
    return result;
}

} // namespace

int main(int argc, char** argv) {
    // Checked a moment ago: the first check is a day away, and only the schedule runs.
    brenvo::platform::UserDefaults& defaults =
        brenvo::platform::Services::shared().standardUserDefaults;
    defaults.setObject(brenvo::platform::PlistValue(brenvo::platform::SystemClock().date()),
                       brenvo::kBrenvoLastCheck);
    defaults.synchronize();
    const std::string_view mode = argc > 1 ? argv[1] : "";
    if (mode == "rearm")
        return rearm();
    const int agents = argc > 2 ? static_cast<int>(std::strtol(argv[2], nullptr, 10)) : 100;
    std::thread worker([agents] { churn(agents); });
    churn(agents);
    worker.join();
    return 0;
}
