// A host application whose first use of Brenvo is a JSON conversion that fails (and logs) on a
// worker thread. Its main thread then keeps an agent with the default services and runs its run
// loop until the first check has decided. With "ended" the worker is gone by then; otherwise it
// lives on, as in a thread pool.
//
// Exit status: 0 when the check decided, 3 when nothing happened within 20 seconds.
#include "brenvo/Brenvo.h"
#include "brenvo/JSON/NSString+XKJSON.h"
#include "brenvo/platform/RunLoop.h"
#include "brenvo/platform/Services.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

int main(int argc, char** argv) {
    const bool workerEnds = argc > 1 && std::string_view(argv[1]) == "ended";
    std::mutex mutex;
    std::condition_variable changed;
    bool converted = false;
    bool release = false;
    std::thread worker([&] {
        const bool parsed = brenvo::JSONValue(std::string_view("not json")).has_value();
        std::unique_lock<std::mutex> lock(mutex);
        converted = !parsed;
        changed.notify_all();
        changed.wait(lock, [&] { return release; });
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return converted; });
        if (workerEnds)
            release = true;
        changed.notify_all();
    }
    if (workerEnds)
        worker.join();

    bool decided = false;
    brenvo::platform::Services::sharedLog().setSink([&](std::string_view line) {
        std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
        if (line.find("No new Version available") != std::string_view::npos) {
            decided = true;
            brenvo::platform::RunLoop::currentRunLoop().quit();
        }
    });
    {
        brenvo::Brenvo agent;
        brenvo::platform::RunLoop::currentRunLoop().runMode(brenvo::platform::kDefaultRunLoopMode,
                                                            std::chrono::seconds(20));
    }
    if (!workerEnds) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            release = true;
        }
        changed.notify_all();
        worker.join();
    }
    return decided ? 0 : 3;
}
