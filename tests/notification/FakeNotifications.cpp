#include "FakeNotifications.h"

#include "support/Session.h"
#include "support/Xvfb.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace brenvo::test {

namespace {

constexpr const char* kName = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";

constexpr const char* kIntrospection = R"(<node>
  <interface name="org.freedesktop.Notifications">
    <method name="GetCapabilities"><arg type="as" direction="out"/></method>
    <method name="Notify">
      <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/>
      <arg type="u" direction="out"/>
    </method>
    <method name="CloseNotification"><arg type="u" direction="in"/></method>
    <method name="GetServerInformation">
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
    </method>
    <signal name="NotificationClosed"><arg type="u"/><arg type="u"/></signal>
    <signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal>
  </interface>
</node>)";

// A session bus of the test's own: no service directories, so nothing is ever activated.
constexpr const char* kBusConfig = R"(<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

} // namespace

PrivateBus::PrivateBus() {
    ownSession();
    char dirTemplate[] = "/tmp/brenvo-bus-XXXXXX";
    if (!::mkdtemp(dirTemplate))
        return;
    dir_ = dirTemplate;
    std::string config = dir_ + "/bus.conf";
    std::ofstream(config) << kBusConfig;
    int fds[2];
    if (::pipe(fds) != 0)
        return;
    pid_ = ::fork();
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::close(fds[0]);
        int devNull = ::open("/dev/null", O_RDWR);
        ::dup2(devNull, 0);
        ::dup2(devNull, 2);
        ::dup2(fds[1], 1);
        std::string configArg = "--config-file=" + config;
        ::execlp("dbus-daemon", "dbus-daemon", configArg.c_str(), "--nofork", "--nopidfile",
                 "--print-address=1", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    if (pid_ < 0) {
        ::close(fds[0]);
        return;
    }
    address_ = readStartupLine(fds[0], 10'000);
    ::close(fds[0]);
}

PrivateBus::~PrivateBus() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status;
        ::waitpid(pid_, &status, 0);
    }
    if (!dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
}

FakeNotificationService::FakeNotificationService(const std::string& address,
                                                 std::vector<std::string> capabilities)
    : address_(address), capabilities_(std::move(capabilities)) {
    context_ = g_main_context_new();
    loop_ = g_main_loop_new(context_, FALSE);
    thread_ = std::thread([this] { run(); });
    std::unique_lock<std::mutex> hold(lock_);
    started_.wait(hold, [this] { return startDone_; });
}

FakeNotificationService::~FakeNotificationService() {
    g_main_context_invoke(
        context_,
        [](gpointer loop) {
            g_main_loop_quit(static_cast<GMainLoop*>(loop));
            return G_SOURCE_REMOVE;
        },
        loop_);
    thread_.join();
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
}

void FakeNotificationService::run() {
    g_main_context_push_thread_default(context_);
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    connection_ = g_dbus_connection_new_for_address_sync(
        address_.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    bool owned = false;
    if (connection_) {
        static const GDBusInterfaceVTable vtable = {onMethodCall, nullptr, nullptr, {}};
        g_dbus_connection_register_object(connection_, kPath, node->interfaces[0], &vtable, this,
                                          nullptr, nullptr);
        GVariant* reply = g_dbus_connection_call_sync(
            connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "RequestName", g_variant_new("(su)", kName, 4u /* do not queue */),
            G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        if (reply) {
            guint32 result = 0;
            g_variant_get(reply, "(u)", &result);
            owned = result == 1; // primary owner
            g_variant_unref(reply);
        }
    }
    {
        std::lock_guard<std::mutex> hold(lock_);
        ready_ = owned;
        startDone_ = true;
    }
    started_.notify_all();
    g_main_loop_run(loop_);
    if (connection_) {
        g_dbus_connection_close_sync(connection_, nullptr, nullptr);
        g_object_unref(connection_);
    }
    g_dbus_node_info_unref(node);
    g_main_context_pop_thread_default(context_);
}

void FakeNotificationService::onMethodCall(GDBusConnection*, const gchar*, const gchar*,
                                           const gchar*, const gchar* method, GVariant* parameters,
                                           GDBusMethodInvocation* invocation, gpointer data) {
    auto* self = static_cast<FakeNotificationService*>(data);
    std::string name(method);
    if (name == "GetCapabilities") {
        GVariantBuilder list;
        g_variant_builder_init(&list, G_VARIANT_TYPE("as"));
        for (const auto& capability : self->capabilities_)
            g_variant_builder_add(&list, "s", capability.c_str());
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(as)", &list));
    } else if (name == "Notify") {
        Notified notified;
        const gchar *app, *icon, *summary, *body;
        guint32 replaces;
        GVariantIter* actions;
        GVariant* hints;
        g_variant_get(parameters, "(&su&s&s&sas@a{sv}i)", &app, &replaces, &icon, &summary, &body,
                      &actions, &hints, &notified.expireTimeout);
        notified.appName = app;
        notified.summary = summary;
        notified.body = body;
        const gchar* action;
        while (g_variant_iter_next(actions, "&s", &action))
            notified.actions.emplace_back(action);
        g_variant_iter_free(actions);
        g_variant_unref(hints);
        {
            std::lock_guard<std::mutex> hold(self->lock_);
            notified.id = self->nextId_++;
            self->notified_.push_back(notified);
        }
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", notified.id));
    } else if (name == "CloseNotification") {
        guint32 id = 0;
        g_variant_get(parameters, "(u)", &id);
        {
            std::lock_guard<std::mutex> hold(self->lock_);
            self->closeRequests_.push_back(id);
        }
        g_dbus_method_invocation_return_value(invocation, nullptr);
        self->emit("NotificationClosed", g_variant_new("(uu)", id, 3u));
    } else {
        g_dbus_method_invocation_return_value(
            invocation, g_variant_new("(ssss)", "fake", "brenvo-tests", "1.0", "1.2"));
    }
}

void FakeNotificationService::emit(const char* member, GVariant* parameters) {
    g_dbus_connection_emit_signal(connection_, nullptr, kPath, kName, member, parameters, nullptr);
}

std::vector<FakeNotificationService::Notified> FakeNotificationService::notified() const {
    std::lock_guard<std::mutex> hold(lock_);
    return notified_;
}

std::vector<uint32_t> FakeNotificationService::closeRequests() const {
    std::lock_guard<std::mutex> hold(lock_);
    return closeRequests_;
}

void FakeNotificationService::invokeAction(uint32_t id, const std::string& action) {
    emitFromService("ActionInvoked", g_variant_new("(us)", id, action.c_str()));
}

void FakeNotificationService::closeNotification(uint32_t id, uint32_t reason) {
    emitFromService("NotificationClosed", g_variant_new("(uu)", id, reason));
}

// Emits on the service's own thread, as a real service would, in order with its replies.
void FakeNotificationService::emitFromService(const char* member, GVariant* parameters) {
    struct Emission {
        FakeNotificationService* service;
        const char* member;
        GVariant* parameters;
    };
    g_main_context_invoke(
        context_,
        [](gpointer data) {
            auto* emission = static_cast<Emission*>(data);
            emission->service->emit(emission->member, emission->parameters);
            g_variant_unref(emission->parameters);
            delete emission;
            return G_SOURCE_REMOVE;
        },
        new Emission{this, member, g_variant_ref_sink(parameters)});
}

} // namespace brenvo::test
