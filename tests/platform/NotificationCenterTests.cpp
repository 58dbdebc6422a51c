// Notifications with observers that come and go during a post, and posts from other threads.
#include "brenvo/platform/NotificationCenter.h"
#include "brenvo/platform/RunLoop.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

using namespace brenvo::platform;

namespace {

TEST(NotificationCenter, MatchesByNameAndObject) {
    NotificationCenter center;
    std::vector<std::string> calls;
    int observerA = 0, observerB = 0, observerC = 0;
    int sender = 0, otherSender = 0;
    center.addObserver(
        &observerA, [&](const Notification& n) { calls.push_back("A " + n.name); }, "Closed",
        nullptr);
    center.addObserver(
        &observerB, [&](const Notification& n) { calls.push_back("B " + n.name); }, "Closed",
        &sender);
    center.addObserver(
        &observerC, [&](const Notification& n) { calls.push_back("C " + n.name); }, "", nullptr);
    struct Case {
        const char* name;
        const void* object;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"Closed", nullptr, {"A Closed", "C Closed"}},
        {"Closed", &sender, {"A Closed", "B Closed", "C Closed"}},
        {"Closed", &otherSender, {"A Closed", "C Closed"}},
        {"Opened", &sender, {"C Opened"}},
    };
    for (const Case& c : cases) {
        calls.clear();
        center.postNotificationName(c.name, c.object);
        EXPECT_EQ(calls, c.expected) << c.name;
    }
    center.removeObserver(&observerA);
    center.removeObserver(&observerC);
    calls.clear();
    center.postNotificationName("Closed", &sender);
    EXPECT_EQ(calls, std::vector<std::string>{"B Closed"});
}

TEST(NotificationCenter, ObserversAddedOrRemovedDuringAPost) {
    NotificationCenter center;
    std::vector<std::string> calls;
    int first = 0, second = 0, third = 0, late = 0;
    bool nested = false;
    center.addObserver(
        &first,
        [&](const Notification&) {
            calls.push_back("first");
            center.removeObserver(&first);  // itself
            center.removeObserver(&second); // one not yet called
            center.addObserver(
                &late, [&](const Notification&) { calls.push_back("late"); }, "N", nullptr);
        },
        "N", nullptr);
    center.addObserver(
        &second, [&](const Notification&) { calls.push_back("second"); }, "N", nullptr);
    center.addObserver(
        &third,
        [&](const Notification&) {
            calls.push_back("third");
            if (!nested) {
                nested = true;
                center.postNotificationName("N", nullptr);
            }
        },
        "N", nullptr);
    center.postNotificationName("N", nullptr);
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "third", "third", "late"}));
    calls.clear();
    center.postNotificationName("N", nullptr);
    EXPECT_EQ(calls, (std::vector<std::string>{"third", "late"}));
}

// An observer runs on the thread that registered it: a post from another thread reaches it
// through its run loop, never on the poster's thread, and not at all once it has been removed.
TEST(NotificationCenter, PostsFromOtherThreadsRunOnTheObserversThread) {
    NotificationCenter center;
    ManualClock clock;
    RunLoop loop(clock);
    std::vector<std::string> calls;
    int kept = 0, removed = 0;
    const auto observer = [&](const char* name) {
        return [&calls, name, self = std::this_thread::get_id()](const Notification& n) {
            EXPECT_EQ(std::this_thread::get_id(), self);
            calls.push_back(name + (" " + n.name));
        };
    };
    center.addObserver(&kept, observer("kept"), "Closed", nullptr, loop);
    center.addObserver(&removed, observer("removed"), "Closed", nullptr, loop);
    std::thread([&] { center.postNotificationName("Closed", nullptr); }).join();
    EXPECT_TRUE(calls.empty());
    center.removeObserver(&removed);
    loop.dispatch();
    EXPECT_EQ(calls, std::vector<std::string>{"kept Closed"});
    // On the observer's own thread the post still delivers at once.
    center.postNotificationName("Closed", nullptr);
    EXPECT_EQ(calls.size(), 2u);
}

} // namespace
