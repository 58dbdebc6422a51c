// Windows loaded by resource name. A window resource shows the texts of its owner (the window
// controller) and reports the user's answer back to it. Hosts register their own factories
// (Qt, GTK 4, anything); Brenvo brings a terminal window and, in Brenvo::gtk3, a GTK 3 window.
#pragma once

#include "brenvo/Export.h"

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

// The owner of a release-info window: supplies its texts and receives its events.
class BRENVO_EXPORT ReleaseWindowOwner {
public:
    virtual ~ReleaseWindowOwner();

    virtual std::string windowTitle() = 0;
    virtual std::string titleText() = 0;
    virtual std::string descriptionText() = 0;
    virtual std::string releaseText() = 0;
    virtual std::optional<std::string> releaseDetails() = 0;
    virtual std::string ButtonTitleUpdateNow() = 0;
    virtual std::string ButtonTitleUpdateSkip() = 0;

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
    // Shows the window (loading its controls and calling the owner's awakeFromNib()).
    virtual void showWindow() = 0;
    virtual void activateApplication() = 0;
    virtual void center() = 0;
    virtual void makeKeyAndOrderFront() = 0;
    // Closes the window; the owner's windowWillClose() runs once, however often this is called.
    virtual void close() = 0;
};

// The most of the release notes a window shows, in bytes of UTF-8: longer notes would hold the
// host's loop while a toolkit lays them out, and nobody reads that far.
inline constexpr size_t kMaxShownReleaseNotes = size_t{64} * 1024;

// The owner's release notes as every window of Brenvo shows them: cut at kMaxShownReleaseNotes
// bytes on a character boundary, with "…" after the cut; nullopt when there are none.
BRENVO_EXPORT std::optional<std::string> shownReleaseDetails(ReleaseWindowOwner& owner);

using WindowFactory =
    std::function<std::unique_ptr<Window>(ReleaseWindowOwner& owner, RunLoop& loop)>;

// Window factories by resource name. The last factory registered for a name wins; when it
// returns nullptr (no display, toolkit missing) the previously registered one is tried. A
// registry may be shared by threads (the default services' one is): a factory runs on the
// thread of the window it makes, with no lock held.
//
//   registry.registerWindow("BrenvoReleaseInfo", [](ReleaseWindowOwner& owner, RunLoop& loop) {
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
// "BrenvoReleaseInfo" in rank order, so the highest rank that can show a window is tried first
// and the window registered before them (the terminal window) comes last. The windows report
// their failures on `log`, which must outlive the registry.
enum class DefaultWindowRank { Notification = 10, Gtk = 20, Qt = 21 };
using DefaultWindowFactory =
    std::function<std::unique_ptr<Window>(ReleaseWindowOwner& owner, RunLoop& loop, Log& log)>;
BRENVO_EXPORT void offerDefaultWindow(DefaultWindowRank rank, DefaultWindowFactory factory);
BRENVO_EXPORT void registerDefaultWindows(WindowRegistry& registry, Log& log);

// Where a button label gets its keyboard mnemonic: the byte offset of the first ASCII letter or
// digit whose lower case is not in `taken`; nullopt when there is none (a label in Japanese, for
// one), where toolkits append a letter of their own in parentheses, as "(S)".
BRENVO_EXPORT std::optional<size_t> mnemonicPosition(std::string_view label,
                                                     std::string_view taken);

} // namespace brenvo::platform
