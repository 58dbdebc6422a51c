// A private session bus (dbus-daemon started by the test, with no services of its own) and a fake
// desktop notification service on it, run on a thread of its own, that records what it is sent
// and acts as the user when told to.
//
//   PrivateBus bus;
//   FakeNotificationService service(bus.address(), {"actions", "body"});
//   ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);
//   ... show a window, then: service.invokeAction(id, "skip");
#pragma once

#include <gio/gio.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace brenvo::test {

class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;
    // Empty when dbus-daemon could not be started.
    const std::string& address() const { return address_; }

private:
    pid_t pid_ = -1;
    std::string dir_;
    std::string address_;
};

class FakeNotificationService {
public:
    struct Notified {
        std::string appName, summary, body;
        std::vector<std::string> actions;
        int32_t expireTimeout = -1;
        uint32_t id = 0;
    };

    FakeNotificationService(const std::string& address, std::vector<std::string> capabilities);
    ~FakeNotificationService();
    FakeNotificationService(const FakeNotificationService&) = delete;
    FakeNotificationService& operator=(const FakeNotificationService&) = delete;

    // True once the service owns its name on the bus.
    bool ready() const { return ready_; }
    std::vector<Notified> notified() const;
    std::vector<uint32_t> closeRequests() const;

    // As the user would: picks an action, or dismisses the notification (reason 2; 1 expired).
    void invokeAction(uint32_t id, const std::string& action);
    void closeNotification(uint32_t id, uint32_t reason);

private:
    void run();
    void emit(const char* member, GVariant* parameters);
    void emitFromService(const char* member, GVariant* parameters);
    static void onMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                             const gchar* method, GVariant* parameters,
                             GDBusMethodInvocation* invocation, gpointer data);

    std::string address_;
    std::vector<std::string> capabilities_;
    GMainContext* context_ = nullptr;
    GMainLoop* loop_ = nullptr;
    GDBusConnection* connection_ = nullptr;
    mutable std::mutex lock_;
    std::condition_variable started_;
    bool startDone_ = false;
    bool ready_ = false;
    std::vector<Notified> notified_;
    std::vector<uint32_t> closeRequests_;
    uint32_t nextId_ = 1;
    std::thread thread_;
};

} // namespace brenvo::test
