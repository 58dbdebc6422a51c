#include "brenvo/platform/glib/NotificationWindow.h"

#include "brenvo/platform/glib/GLibRunLoop.h"
#include "brenvo/utf/Printable.h"

#include <gio/gio.h>
#include <glib.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace brenvo::platform {
namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr gint kCallTimeoutMs = 5000;
// The release notes are cut here in the body: a notification is no place for a long text.
constexpr size_t kMaxNotesBytes = 1500;
constexpr const char* kOpenAction = "open";
constexpr const char* kSkipAction = "skip";

// The session bus, as the environment names it; never one launched for the purpose.
std::optional<std::string> sessionBusAddress() {
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address)
        return std::string(address);
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime)
        return std::nullopt;
    std::string socket = std::string(runtime) + "/bus";
    struct stat info {};
    if (::stat(socket.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode))
        return std::nullopt;
    gchar* escaped = g_dbus_address_escape_value(socket.c_str());
    std::string address = std::string("unix:path=") + escaped;
    g_free(escaped);
    return address;
}

// D-Bus strings are UTF-8 without NUL; text from outside may be neither.
std::string dbusText(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
        gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
        text = valid;
        g_free(valid);
    }
    return text;
}

std::string markupEscaped(const std::string& text) {
    gchar* escaped = g_markup_escape_text(text.data(), static_cast<gssize>(text.size()));
    std::string out = escaped;
    g_free(escaped);
    return out;
}

// Makes `context` the thread-default one for a scope, so that GDBus delivers there.
class PushedContext {
public:
    explicit PushedContext(GMainContext* context) : context_(context) {
        g_main_context_push_thread_default(context_);
    }
    ~PushedContext() { g_main_context_pop_thread_default(context_); }
    PushedContext(const PushedContext&) = delete;
    PushedContext& operator=(const PushedContext&) = delete;

private:
    GMainContext* context_;
};

class NotificationWindow final : public Window {
public:
    NotificationWindow(ReleaseWindowOwner& owner, RunLoop& loop, Log& log, GMainContext* context,
                       GDBusConnection* connection, bool markup)
        : owner_(owner), log_(log), context_(context), connection_(connection), markup_(markup),
          pump_(loop, context), cancellable_(g_cancellable_new()) {}

    ~NotificationWindow() override {
        {
            PushedContext pushed(context_);
            for (guint subscription : subscriptions_)
                g_dbus_connection_signal_unsubscribe(connection_, subscription);
            g_signal_handlers_disconnect_by_data(connection_, this);
            if (!closed_ && id_ != 0)
                withdraw();
            g_cancellable_cancel(cancellable_);
        }
        // A cancelled call still reports back on the context: wait for that, briefly.
        gint64 until = g_get_monotonic_time() + 2 * G_USEC_PER_SEC;
        while (pendingCalls_ > 0 && g_get_monotonic_time() < until) {
            if (!g_main_context_iteration(context_, FALSE))
                g_usleep(1000);
        }
        g_dbus_connection_flush_sync(connection_, nullptr, nullptr);
        g_dbus_connection_close_sync(connection_, nullptr, nullptr);
        g_object_unref(connection_);
        g_object_unref(cancellable_);
    }

    void showWindow(const ReleaseTexts& texts) override {
        if (shown_ || closed_)
            return;
        shown_ = true;
        {
            PushedContext pushed(context_);
            g_signal_connect(connection_, "closed", G_CALLBACK(onConnectionClosed), this);
            for (const char* member : {"ActionInvoked", "NotificationClosed"})
                subscriptions_.push_back(g_dbus_connection_signal_subscribe(
                    connection_, kService, kInterface, member, kPath, nullptr,
                    G_DBUS_SIGNAL_FLAGS_NONE, onSignal, this, nullptr));

            std::string body = texts.descriptionText;
            std::string notes = shownReleaseDetails(texts).value_or(std::string());
            if (!notes.empty())
                body += "\n\n" + texts.releaseText + "\n" + utf::shortened(notes, kMaxNotesBytes);
            body = dbusText(body);
            if (markup_)
                body = markupEscaped(body);

            GVariantBuilder actions;
            g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
            g_variant_builder_add(&actions, "s", kOpenAction);
            g_variant_builder_add(&actions, "s", dbusText(texts.buttonTitleUpdateNow.text).c_str());
            g_variant_builder_add(&actions, "s", kSkipAction);
            g_variant_builder_add(&actions, "s",
                                  dbusText(texts.buttonTitleUpdateSkip.text).c_str());
            GVariantBuilder hints;
            g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
            g_variant_builder_add(&hints, "{sv}", "urgency", g_variant_new_byte(1));
            // Stays until the user answers, where the service allows it.
            GVariant* parameters =
                g_variant_new("(susssasa{sv}i)", dbusText(texts.windowTitle).c_str(), 0u, "",
                              dbusText(texts.titleText).c_str(), body.c_str(), &actions, &hints, 0);
            ++pendingCalls_;
            g_dbus_connection_call(connection_, kService, kPath, kInterface, "Notify", parameters,
                                   G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs,
                                   cancellable_, onNotified, this);
        }
        owner_.awakeFromNib();
    }

    // A plain notification without actions, which the service takes away when it will; its
    // closing closes the window.
    bool showMessage(const MessageTexts& texts) override {
        if (shown_ || closed_)
            return false;
        shown_ = true;
        {
            PushedContext pushed(context_);
            g_signal_connect(connection_, "closed", G_CALLBACK(onConnectionClosed), this);
            subscriptions_.push_back(g_dbus_connection_signal_subscribe(
                connection_, kService, kInterface, "NotificationClosed", kPath, nullptr,
                G_DBUS_SIGNAL_FLAGS_NONE, onSignal, this, nullptr));
            std::string body = dbusText(texts.informativeText);
            if (markup_)
                body = markupEscaped(body);
            GVariantBuilder hints;
            g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
            g_variant_builder_add(&hints, "{sv}", "urgency",
                                  g_variant_new_byte(texts.failed ? 1 : 0));
            GVariant* parameters =
                g_variant_new("(susss@asa{sv}i)", dbusText(texts.windowTitle).c_str(), 0u, "",
                              dbusText(texts.messageText).c_str(), body.c_str(),
                              g_variant_new_array(G_VARIANT_TYPE_STRING, nullptr, 0), &hints, -1);
            ++pendingCalls_;
            g_dbus_connection_call(connection_, kService, kPath, kInterface, "Notify", parameters,
                                   G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs,
                                   cancellable_, onNotified, this);
        }
        owner_.awakeFromNib();
        return true;
    }

    void close() override {
        if (closed_)
            return;
        if (id_ != 0 && !withdrawn_) {
            PushedContext pushed(context_);
            withdraw();
        }
        finish();
    }

private:
    void finish() {
        if (closed_)
            return;
        closed_ = true;
        owner_.windowWillClose();
    }

    // Takes the notification off the screen; its answer is not awaited.
    void withdraw() {
        withdrawn_ = true;
        g_dbus_connection_call(connection_, kService, kPath, kInterface, "CloseNotification",
                               g_variant_new("(u)", id_), nullptr, G_DBUS_CALL_FLAGS_NONE,
                               kCallTimeoutMs, nullptr, nullptr, nullptr);
    }

    static void onNotified(GObject* source, GAsyncResult* result, gpointer data) {
        auto* self = static_cast<NotificationWindow*>(data);
        --self->pendingCalls_;
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
        if (!reply) {
            bool cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
            if (!cancelled) {
                self->log_.write(utf::printable(
                    std::string("Brenvo: The desktop notification could not be shown: ") +
                    utf::logField(error && error->message ? error->message : "no reply")));
            }
            if (error)
                g_error_free(error);
            if (!cancelled)
                self->finish();
            return;
        }
        g_variant_get(reply, "(u)", &self->id_);
        g_variant_unref(reply);
        if (self->closed_ && !self->withdrawn_) {
            // Closed by the controller before the service had answered.
            PushedContext pushed(self->context_);
            self->withdraw();
        }
    }

    static void onSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                         const gchar* member, GVariant* parameters, gpointer data) {
        auto* self = static_cast<NotificationWindow*>(data);
        std::string name(member);
        if (name == "ActionInvoked" && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) {
            guint32 id = 0;
            const gchar* action = nullptr;
            g_variant_get(parameters, "(u&s)", &id, &action);
            if (id != self->id_ || id == 0 || self->closed_)
                return;
            if (std::string(action) == kOpenAction)
                self->owner_.doOpenMas();
            else if (std::string(action) == kSkipAction)
                self->owner_.doSkip();
        } else if (name == "NotificationClosed" &&
                   g_variant_is_of_type(parameters, G_VARIANT_TYPE("(uu)"))) {
            guint32 id = 0;
            guint32 reason = 0;
            g_variant_get(parameters, "(uu)", &id, &reason);
            if (id != self->id_ || id == 0)
                return;
            // Dismissed, expired or closed by the service: gone from the screen in every case.
            self->withdrawn_ = true;
            self->finish();
        }
    }

    static void onConnectionClosed(GDBusConnection*, gboolean, GError* error, gpointer data) {
        auto* self = static_cast<NotificationWindow*>(data);
        if (self->closed_)
            return;
        self->withdrawn_ = true;
        self->log_.write(utf::printable(
            std::string("Brenvo: The session bus went away while the notification was shown") +
            (error && error->message ? ": " + utf::logField(error->message) : std::string())));
        self->finish();
    }

    ReleaseWindowOwner& owner_;
    Log& log_;
    GMainContext* context_; // owned by pump_
    GDBusConnection* connection_;
    bool markup_;
    GLibContextPump pump_;
    GCancellable* cancellable_;
    std::vector<guint> subscriptions_;
    guint32 id_ = 0;
    int pendingCalls_ = 0;
    bool shown_ = false;
    bool withdrawn_ = false;
    bool closed_ = false;
};

// Offered to the default services when this library is loaded.
[[maybe_unused]] const bool offered = [] {
    offerDefaultWindow(DefaultWindowRank::Notification,
                       [](ReleaseWindowOwner& owner, RunLoop& loop, Log& log) {
                           return makeNotificationWindow(owner, loop, log);
                       });
    return true;
}();

} // namespace

std::unique_ptr<Window> makeNotificationWindow(ReleaseWindowOwner& owner, RunLoop& loop, Log& log) {
    std::optional<std::string> address = sessionBusAddress();
    if (!address)
        return nullptr;
    GMainContext* context = g_main_context_new();
    GDBusConnection* connection = nullptr;
    std::vector<std::string> capabilities;
    {
        PushedContext pushed(context);
        connection = g_dbus_connection_new_for_address_sync(
            address->c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        if (connection) {
            g_dbus_connection_set_exit_on_close(connection, FALSE);
            // Answered by the service, or at once by the bus when there is none.
            GVariant* reply = g_dbus_connection_call_sync(
                connection, kService, kPath, kInterface, "GetCapabilities", nullptr,
                G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, nullptr);
            if (reply) {
                GVariantIter* iter = nullptr;
                const gchar* capability = nullptr;
                g_variant_get(reply, "(as)", &iter);
                while (g_variant_iter_next(iter, "&s", &capability))
                    capabilities.emplace_back(capability);
                g_variant_iter_free(iter);
                g_variant_unref(reply);
            }
        }
    }
    auto has = [&](std::string_view capability) {
        return std::find(capabilities.begin(), capabilities.end(), capability) !=
               capabilities.end();
    };
    if (!connection || !has("actions")) {
        if (connection) {
            g_dbus_connection_close_sync(connection, nullptr, nullptr);
            g_object_unref(connection);
        }
        g_main_context_unref(context);
        return nullptr;
    }
    auto window = std::make_unique<NotificationWindow>(owner, loop, log, context, connection,
                                                       has("body-markup"));
    g_main_context_unref(context); // the window's pump holds it
    return window;
}

void registerNotificationWindow(WindowRegistry& registry, Log& log) {
    registry.registerWindow(std::string(kReleaseInfoWindow),
                            [&log](ReleaseWindowOwner& owner, RunLoop& loop) {
                                return makeNotificationWindow(owner, loop, log);
                            });
}

} // namespace brenvo::platform
