#include "brenvo/platform/gtk/GtkReleaseWindow.h"

#include "brenvo/platform/glib/GLibRunLoop.h"

#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>

#include <chrono>
#include <string>

namespace brenvo::platform {
namespace {

// A weak reference to the host's window that the release window is transient for.
using ParentRef = std::shared_ptr<GWeakRef>;

ParentRef parentRef(GtkWindow* parent) {
    if (!parent)
        return nullptr;
    ParentRef ref(new GWeakRef, [](GWeakRef* weak) {
        g_weak_ref_clear(weak);
        delete weak;
    });
    g_weak_ref_init(ref.get(), parent);
    return ref;
}

// Whether the first letter of `text` is of a script written right to left.
bool startsRightToLeft(const std::string& text) {
    const char* at = text.c_str();
    const char* end = at + text.size();
    while (at < end) {
        const gunichar c = g_utf8_get_char_validated(at, end - at);
        if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2))
            return false;
        if (g_unichar_isalpha(c)) {
            switch (g_unichar_get_script(c)) {
            case G_UNICODE_SCRIPT_ARABIC:
            case G_UNICODE_SCRIPT_HEBREW:
            case G_UNICODE_SCRIPT_SYRIAC:
            case G_UNICODE_SCRIPT_THAANA:
            case G_UNICODE_SCRIPT_NKO:
                return true;
            default:
                return false;
            }
        }
        at = g_utf8_next_char(at);
    }
    return false;
}

class GtkReleaseWindow final : public Window {
public:
    GtkReleaseWindow(ReleaseWindowOwner& owner, RunLoop& loop, ParentRef parent)
        : owner_(owner), loop_(loop), parent_(std::move(parent)) {}

    ~GtkReleaseWindow() override {
        if (window_) {
            // Gone without a close (the controller was torn down): no more calls to the owner.
            g_signal_handlers_disconnect_by_data(window_, this);
            g_signal_handlers_disconnect_by_data(openButton_, this);
            if (skipButton_)
                g_signal_handlers_disconnect_by_data(skipButton_, this);
            gtk_widget_destroy(window_);
        }
        if (pump_)
            pump_->refresh();
    }

    void showWindow(const ReleaseTexts& texts) override {
        if (window_ || closed_)
            return;
        // A host that runs Brenvo's loop rather than GLib's: the loop serves GTK's events.
        if (!GLibRunLoopSource::drives(loop_))
            pump_ = std::make_unique<GLibContextPump>(loop_, nullptr);
        window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_title(GTK_WINDOW(window_), texts.windowTitle.c_str());
        gtk_window_set_default_size(GTK_WINDOW(window_), 520, 380);
        gtk_container_set_border_width(GTK_CONTAINER(window_), 16);
        if (GtkWindow* parent = hostWindow()) {
            gtk_window_set_transient_for(GTK_WINDOW(window_), parent);
            g_object_unref(parent);
        }
        g_signal_connect(window_, "destroy", G_CALLBACK(onDestroy), this);
        guardKeys(texts.keyGuard);
        g_signal_connect(window_, "key-press-event", G_CALLBACK(onKey), this);

        GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 10);
        gtk_container_add(GTK_CONTAINER(window_), box);

        GtkWidget* title = gtk_label_new(nullptr);
        char* markup = g_markup_printf_escaped("<span weight=\"bold\" size=\"large\">%s</span>",
                                               texts.titleText.c_str());
        gtk_label_set_markup(GTK_LABEL(title), markup);
        g_free(markup);
        addLabel(box, title);

        GtkWidget* description = gtk_label_new(texts.descriptionText.c_str());
        addLabel(box, description);
        GtkWidget* releaseLabel = gtk_label_new(texts.releaseText.c_str());
        addLabel(box, releaseLabel);

        GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
        gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_NEVER,
                                       GTK_POLICY_AUTOMATIC);
        gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroller), GTK_SHADOW_IN);
        GtkWidget* notes = gtk_text_view_new();
        gtk_text_view_set_editable(GTK_TEXT_VIEW(notes), FALSE);
        gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(notes), FALSE);
        gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(notes), GTK_WRAP_WORD_CHAR);
        gtk_text_view_set_left_margin(GTK_TEXT_VIEW(notes), 6);
        gtk_text_view_set_right_margin(GTK_TEXT_VIEW(notes), 6);
        std::string details = shownReleaseDetails(texts).value_or(std::string());
        // GTK takes UTF-8 only; anything else would be refused with a warning.
        if (!g_utf8_validate(details.data(), static_cast<gssize>(details.size()), nullptr)) {
            char* valid = g_utf8_make_valid(details.data(), static_cast<gssize>(details.size()));
            details = valid;
            g_free(valid);
        }
        gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(notes)), details.data(),
                                 static_cast<gint>(details.size()));
        gtk_container_add(GTK_CONTAINER(scroller), notes);
        gtk_widget_set_vexpand(scroller, TRUE);
        gtk_box_pack_start(GTK_BOX(box), scroller, TRUE, TRUE, 0);

        GtkWidget* buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
        gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_END);
        gtk_box_set_spacing(GTK_BOX(buttons), 8);
        skipButton_ =
            gtk_button_new_with_mnemonic(withMnemonic(texts.buttonTitleUpdateSkip, '_').c_str());
        openButton_ =
            gtk_button_new_with_mnemonic(withMnemonic(texts.buttonTitleUpdateNow, '_').c_str());
        gtk_widget_set_name(skipButton_, "BrenvoSkipButton");
        gtk_widget_set_name(openButton_, "BrenvoOpenButton");
        g_signal_connect(skipButton_, "clicked", G_CALLBACK(onSkip), this);
        g_signal_connect(openButton_, "clicked", G_CALLBACK(onOpen), this);
        gtk_container_add(GTK_CONTAINER(buttons), skipButton_);
        gtk_container_add(GTK_CONTAINER(buttons), openButton_);
        gtk_box_pack_start(GTK_BOX(box), buttons, FALSE, FALSE, 0);

        gtk_style_context_add_class(gtk_widget_get_style_context(openButton_), "suggested-action");
        gtk_widget_set_can_default(openButton_, TRUE);
        gtk_window_set_default(GTK_WINDOW(window_), openButton_);

        // What a screen reader says: the heading as a heading, the description as the window's,
        // the notes named by the label above them, the buttons by their titles alone.
        atk_object_set_role(gtk_widget_get_accessible(title), ATK_ROLE_HEADING);
        AtkObject* windowAccessible = gtk_widget_get_accessible(window_);
        atk_object_set_description(windowAccessible, texts.descriptionText.c_str());
        atk_object_add_relationship(windowAccessible, ATK_RELATION_DESCRIBED_BY,
                                    gtk_widget_get_accessible(description));
        atk_object_add_relationship(gtk_widget_get_accessible(description),
                                    ATK_RELATION_DESCRIPTION_FOR, windowAccessible);
        gtk_label_set_mnemonic_widget(GTK_LABEL(releaseLabel), notes);
        atk_object_set_name(gtk_widget_get_accessible(skipButton_),
                            texts.buttonTitleUpdateSkip.text.c_str());
        atk_object_set_name(gtk_widget_get_accessible(openButton_),
                            texts.buttonTitleUpdateNow.text.c_str());

        // Texts in a right-to-left script lay the whole window out from the right.
        if (startsRightToLeft(texts.windowTitle))
            setRightToLeft(window_, nullptr);
        gtk_widget_show_all(box);

        owner_.awakeFromNib();
        if (pump_)
            pump_->refresh();
    }

    // A message dialog with the one button as its default; the button, Escape and the close box
    // close it.
    bool showMessage(const MessageTexts& texts) override {
        if (window_ || closed_)
            return false;
        if (!GLibRunLoopSource::drives(loop_))
            pump_ = std::make_unique<GLibContextPump>(loop_, nullptr);
        GtkWindow* parent = hostWindow();
        window_ = gtk_message_dialog_new(parent, GTK_DIALOG_DESTROY_WITH_PARENT,
                                         texts.failed ? GTK_MESSAGE_WARNING : GTK_MESSAGE_INFO,
                                         GTK_BUTTONS_NONE, "%s", texts.messageText.c_str());
        if (parent)
            g_object_unref(parent);
        gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(window_), "%s",
                                                 texts.informativeText.c_str());
        gtk_window_set_title(GTK_WINDOW(window_), texts.windowTitle.c_str());
        openButton_ =
            gtk_dialog_add_button(GTK_DIALOG(window_), texts.buttonTitle.c_str(), GTK_RESPONSE_OK);
        gtk_widget_set_name(openButton_, "BrenvoOkButton");
        gtk_dialog_set_default_response(GTK_DIALOG(window_), GTK_RESPONSE_OK);
        g_signal_connect(window_, "response", G_CALLBACK(+[](GtkDialog* dialog, gint, gpointer) {
                             gtk_widget_destroy(GTK_WIDGET(dialog));
                         }),
                         nullptr);
        g_signal_connect(window_, "destroy", G_CALLBACK(onDestroy), this);
        if (startsRightToLeft(texts.windowTitle))
            setRightToLeft(window_, nullptr);
        owner_.awakeFromNib();
        if (pump_)
            pump_->refresh();
        return true;
    }

    // The window asks for the focus when it is mapped; gtk_window_present() in
    // makeKeyAndOrderFront() then raises it above the other applications' windows.
    void activateApplication() override {
        if (window_)
            gtk_window_set_focus_on_map(GTK_WINDOW(window_), TRUE);
    }

    // Centred on the host's window when it names one, else on the screen.
    void center() override {
        if (window_)
            gtk_window_set_position(GTK_WINDOW(window_),
                                    gtk_window_get_transient_for(GTK_WINDOW(window_))
                                        ? GTK_WIN_POS_CENTER_ON_PARENT
                                        : GTK_WIN_POS_CENTER);
    }

    void makeKeyAndOrderFront() override {
        if (!window_)
            return;
        gtk_widget_show(window_);
        gtk_widget_grab_focus(openButton_);
        gtk_window_present(GTK_WINDOW(window_));
    }

    void close() override {
        if (window_)
            gtk_widget_destroy(window_); // "destroy" tells the owner
        else if (!closed_) {
            closed_ = true;
            owner_.windowWillClose();
        }
        if (pump_)
            pump_->refresh();
    }

private:
    // The host's window with a strong reference, or nullptr.
    GtkWindow* hostWindow() const {
        return parent_ ? static_cast<GtkWindow*>(g_weak_ref_get(parent_.get())) : nullptr;
    }

    // For `span` after the window is mapped every key press stops here, before mnemonics, the
    // default button or Escape see it; clicks are not key presses. Connected before any other
    // key handler.
    void guardKeys(std::chrono::milliseconds span) {
        if (span <= std::chrono::milliseconds::zero())
            return;
        keyGuard_ = span;
        g_signal_connect(window_, "map-event", G_CALLBACK(onMapped), this);
        g_signal_connect(window_, "key-press-event", G_CALLBACK(onGuardedKey), this);
    }

    static gboolean onMapped(GtkWidget*, GdkEvent*, gpointer self) {
        auto* window = static_cast<GtkReleaseWindow*>(self);
        if (window->keysFrom_ == G_MAXINT64)
            window->keysFrom_ =
                g_get_monotonic_time() +
                std::chrono::duration_cast<std::chrono::microseconds>(window->keyGuard_).count();
        return FALSE;
    }

    static gboolean onGuardedKey(GtkWidget*, GdkEventKey*, gpointer self) {
        return g_get_monotonic_time() < static_cast<GtkReleaseWindow*>(self)->keysFrom_;
    }

    // Escape closes the window as its close box does.
    static gboolean onKey(GtkWidget* widget, GdkEventKey* event, gpointer) {
        if (event->keyval != GDK_KEY_Escape)
            return FALSE;
        gtk_window_close(GTK_WINDOW(widget));
        return TRUE;
    }

    // Sets `widget` and everything in it right to left: a GTK widget takes the default
    // direction, not its parent's.
    static void setRightToLeft(GtkWidget* widget, gpointer) {
        gtk_widget_set_direction(widget, GTK_TEXT_DIR_RTL);
        if (GTK_IS_CONTAINER(widget))
            gtk_container_forall(GTK_CONTAINER(widget), setRightToLeft, nullptr);
    }

    static void addLabel(GtkWidget* box, GtkWidget* label) {
        gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
        gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
        gtk_label_set_max_width_chars(GTK_LABEL(label), 60);
        gtk_box_pack_start(GTK_BOX(box), label, FALSE, FALSE, 0);
    }

    static void onSkip(GtkButton*, gpointer self) {
        auto* window = static_cast<GtkReleaseWindow*>(self);
        if (!window->closed_)
            window->owner_.doSkip();
    }

    static void onOpen(GtkButton*, gpointer self) {
        auto* window = static_cast<GtkReleaseWindow*>(self);
        if (!window->closed_)
            window->owner_.doOpenMas();
    }

    // Every close ends here: a button's close(), the window manager's close, a host's destroy.
    static void onDestroy(GtkWidget*, gpointer self) {
        auto* window = static_cast<GtkReleaseWindow*>(self);
        window->window_ = nullptr;
        window->openButton_ = nullptr;
        window->skipButton_ = nullptr;
        if (!window->closed_) {
            window->closed_ = true;
            window->owner_.windowWillClose();
        }
    }

    ReleaseWindowOwner& owner_;
    RunLoop& loop_;
    ParentRef parent_;
    std::unique_ptr<GLibContextPump> pump_;
    GtkWidget* window_ = nullptr;
    GtkWidget* openButton_ = nullptr;
    GtkWidget* skipButton_ = nullptr;
    bool closed_ = false;
    // Key presses count from then on (monotonic microseconds); unmapped, never.
    std::chrono::milliseconds keyGuard_{0};
    gint64 keysFrom_ = G_MAXINT64;
};

std::unique_ptr<Window> makeWindow(ReleaseWindowOwner& owner, RunLoop& loop, ParentRef parent) {
    // GTK lives on the thread that runs the default main context: an agent of another thread,
    // while that one runs it, gets no window.
    GMainContext* gtkContext = g_main_context_default();
    if (!g_main_context_acquire(gtkContext))
        return nullptr;
    g_main_context_release(gtkContext);
    if (!gtk_init_check(nullptr, nullptr))
        return nullptr;
    return std::make_unique<GtkReleaseWindow>(owner, loop, std::move(parent));
}

// Offered to the default services when this library is loaded.
[[maybe_unused]] const bool offered = [] {
    offerDefaultWindow(DefaultWindowRank::Gtk, [](ReleaseWindowOwner& owner, RunLoop& loop, Log&) {
        return makeWindow(owner, loop, nullptr);
    });
    return true;
}();

} // namespace

std::unique_ptr<Window> makeGtkReleaseWindow(ReleaseWindowOwner& owner, RunLoop& loop) {
    return makeWindow(owner, loop, nullptr);
}

std::unique_ptr<Window> makeGtkReleaseWindow(ReleaseWindowOwner& owner, RunLoop& loop,
                                             GtkWindow* parent) {
    return makeWindow(owner, loop, parentRef(parent));
}

void registerGtkWindow(WindowRegistry& registry) {
    registerGtkWindow(registry, nullptr);
}

void registerGtkWindow(WindowRegistry& registry, GtkWindow* parent) {
    registry.registerWindow(std::string(kReleaseInfoWindow),
                            [parent = parentRef(parent)](ReleaseWindowOwner& owner, RunLoop& loop) {
                                return makeWindow(owner, loop, parent);
                            });
}

} // namespace brenvo::platform
