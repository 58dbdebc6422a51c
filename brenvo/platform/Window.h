// Windows loaded by resource name. A window resource shows the texts its owner (the window
// controller) hands it and reports the user's answer back to it. Hosts register their own factories
// (Qt, GTK 4, anything); Brenvo brings a terminal window and, in Brenvo::gtk3, a GTK 3 window.
#pragma once

#include "brenvo/Export.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brenvo::platform {

class Log;
class RunLoop;

// An answer to the release-info window.
enum class WindowAnswer { Open, Skip, Close };

// "open", "skip" or "close" (as the brenvo tool's --answer takes them); nullopt otherwise.
BRENVO_EXPORT std::optional<WindowAnswer> windowAnswerFromString(std::string_view text);

// The name every release-info window registers under and is loaded by.
inline constexpr std::string_view kReleaseInfoWindow = "BrenvoReleaseInfo";

// A button's title and where its keyboard mnemonic goes.
struct ButtonTitle {
    std::string text;
    // The byte offset in `text` of the mnemonic letter; nullopt when no letter is free (a title in
    // Japanese, for one), where toolkits append `fallback` in parentheses, as "(S)".
    std::optional<size_t> mnemonic;
    char fallback = 0;
};

// `title` as a toolkit whose mnemonic marker is `marker` takes it ('_' in GTK, '&' in Qt): the
// title's own markers doubled, a marker before the mnemonic letter, or " (<marker><fallback>)"
// appended when there is none.
BRENVO_EXPORT std::string withMnemonic(const ButtonTitle& title, char marker);

// How long a window that nobody asked for ignores the key presses that would answer it, once it
// is on the screen: an Enter meant for another application must not open the store.
inline constexpr std::chrono::milliseconds kKeyGuard{700};

// Everything a release-info window shows, computed once by its owner and handed to showWindow().
struct BRENVO_EXPORT ReleaseTexts {
    std::string windowTitle, titleText, descriptionText, releaseText;
    std::optional<std::string> releaseDetails; // the release notes; nullopt when there are none
    ButtonTitle buttonTitleUpdateNow, buttonTitleUpdateSkip;
    // For this long after the window is on the screen, its key presses (Escape included) are
    // ignored while clicks count: kKeyGuard for a window a scheduled check opened, zero for one
    // the user asked for.
    std::chrono::milliseconds keyGuard{0};

    // Sets the two button titles with their mnemonics: the first ASCII letter or digit of `now`,
    // then the first of `skip` other than the one `now` took; 'O' and 'S' where none is free.
    void setButtonTitles(std::string now, std::string skip);
};

// A short message with one button that closes it: the answer to a check the user asked for when
// no release window follows. Computed once by its owner and handed to showMessage().
struct BRENVO_EXPORT MessageTexts {
    std::string windowTitle, messageText, informativeText, buttonTitle;
    bool failed = false; // the check did not succeed: toolkits show a warning rather than news
};

// The owner of a release-info window: receives its events.
class BRENVO_EXPORT ReleaseWindowOwner {
public:
    virtual ~ReleaseWindowOwner();

    // Called once the window and its controls exist.
    virtual void awakeFromNib() = 0;
    // The two buttons.
    virtual void doOpenMas() = 0;
    virtual void doSkip() = 0;
    // Called exactly once when the window begins to close, by a button or otherwise.
    virtual void windowWillClose() = 0;
};

// A loaded window.
class BRENVO_EXPORT Window {
public:
    virtual ~Window();
    // Shows the window with `texts` (loading its controls and calling the owner's
    // awakeFromNib()).
    virtual void showWindow(const ReleaseTexts& texts) = 0;
    // Bring the application forward, place the window and put it in front. A window with no
    // place or stacking of its own (a terminal, a notification) keeps these: they do nothing.
    virtual void activateApplication();
    virtual void center();
    virtual void makeKeyAndOrderFront();
    // Closes the window; the owner's windowWillClose() runs once, however often this is called.
    virtual void close() = 0;
    // Shows `texts` instead of a release, in place of showWindow(): the owner then hears only
    // awakeFromNib() and windowWillClose(). False, showing nothing, where the window has no
    // message form (the default, so a host's own window shows none).
    virtual bool showMessage(const MessageTexts& texts);
};

// The most of the release notes a window shows, in bytes of UTF-8: longer notes would hold the
// host's loop while a toolkit lays them out, and nobody reads that far.
inline constexpr size_t kMaxShownReleaseNotes = size_t{64} * 1024;

// The release notes as every window of Brenvo shows them: cut at kMaxShownReleaseNotes bytes on a
// character boundary, with "…" after the cut; nullopt when there are none.
BRENVO_EXPORT std::optional<std::string> shownReleaseDetails(const ReleaseTexts& texts);

using WindowFactory =
    std::function<std::unique_ptr<Window>(ReleaseWindowOwner& owner, RunLoop& loop)>;

// Window factories by resource name. The last factory registered for a name wins; when it
// returns nullptr (no display, toolkit missing) the previously registered one is tried. A
// registry may be shared by threads (the default services' one is): a factory runs on the
// thread of the window it makes, with no lock held.
//
//   registry.registerWindow(kReleaseInfoWindow, [](ReleaseWindowOwner& owner, RunLoop& loop) {
//       return std::make_unique<MyQtReleaseWindow>(owner, loop);
//   });
class BRENVO_EXPORT WindowRegistry {
public:
    void registerWindow(std::string name, WindowFactory factory);
    // The window of the newest factory for `name` that gives one; nullptr when none does.
    std::unique_ptr<Window> loadWindow(std::string_view name, ReleaseWindowOwner& owner,
                                       RunLoop& loop) const;
    // Forgets every factory registered for `name`.
    void unregisterWindows(std::string_view name);

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::vector<WindowFactory>, std::less<>> factories_;
};

// The windows Brenvo's optional libraries offer for hosts that register none of their own. Each
// of Brenvo::glib (the desktop notification), Brenvo::gtk3 and Brenvo::qt6 (the toolkit windows)
// offers its window when it is loaded; registerDefaultWindows() registers the offers under
// kReleaseInfoWindow in rank order, so the highest rank that can show a window is tried first
// and the window registered before them (the terminal window) comes last. The windows report
// their failures on `log`, which must outlive the registry.
enum class DefaultWindowRank { Notification = 10, Gtk = 20, Qt = 21 };
using DefaultWindowFactory =
    std::function<std::unique_ptr<Window>(ReleaseWindowOwner& owner, RunLoop& loop, Log& log)>;
BRENVO_EXPORT void offerDefaultWindow(DefaultWindowRank rank, DefaultWindowFactory factory);
BRENVO_EXPORT void registerDefaultWindows(WindowRegistry& registry, Log& log);

} // namespace brenvo::platform
