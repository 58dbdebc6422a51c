// Windows loaded by resource name. A window resource shows the texts of its owner (the window
// controller) and reports the user's answer back to it. Hosts register their own factories
// (Qt, GTK 4, anything); Brenvo brings a terminal window and, in Brenvo::gtk3, a GTK 3 window.
#pragma once

#include "brenvo/Export.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brenvo::platform {

class RunLoop;

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

using WindowFactory =
    std::function<std::unique_ptr<Window>(ReleaseWindowOwner& owner, RunLoop& loop)>;

// Window factories by resource name. The last factory registered for a name wins; when it
// returns nullptr (no display, toolkit missing) the previously registered one is tried.
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
    std::map<std::string, std::vector<WindowFactory>, std::less<>> factories_;
};

} // namespace brenvo::platform
