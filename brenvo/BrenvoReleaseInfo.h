// BrenvoReleaseInfo: the controller of the release-info window. It shows a found update (the
// store's release record) in the window resource "BrenvoReleaseInfo" of the services' window
// registry and carries out the user's answer: "Skip This Version" remembers the record's version
// under "BrenvoSkipVersion", "Open App Store For Update" opens the store. Whatever closes the
// window, "BrenvoReleaseWindowClosed" is posted once on the default notification centre.
//
//   // called by the agent when its check finds a newer version:
//   brenvo::BrenvoReleaseInfo::initWithReleaseInfo(record, services);
//
// The creator keeps no reference: the controller belongs to a process-wide slot from its
// creation until its window has closed, and is destroyed from there on the run loop's next pass
// after the close (never inside one of its own calls). It may outlive the agent that made it,
// not its services: when the services are destroyed first, the window closes with them (as a
// close without an answer, notification included). All calls happen on the thread that runs
// `services.runLoop`.
//
// The window is handed its texts once, as it is shown (releaseTexts()). The accessors they come
// from compute each text afresh on every call, from the host's localisation table "Brenvo"
// (English keys as defaults). Formats fill "%@" with their arguments in order ("%1$@" picks one
// by position, "%%" is a percent sign); a missing host name, host version or record version
// shows as "(null)". A record version longer than 256 bytes is shown cut there with "…" and is
// never stored as skipped; the release notes are given as a window shows them, cut at
// platform::kMaxShownReleaseNotes bytes with "…" (platform::shownReleaseDetails).
#pragma once

#include "brenvo/Export.h"
#include "brenvo/JSON/JsonValue.h"
#include "brenvo/StoreRelease.h"
#include "brenvo/platform/Services.h"
#include "brenvo/platform/Window.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace brenvo {

// The release record of the newest window that is open on the calling thread, or null when none
// is (each thread that shows windows has its own slot). Each controller writes its own copy here
// before its window loads and clears it at destruction only while it still holds that copy, so a
// second controller's record is never taken away.
BRENVO_EXPORT extern thread_local std::shared_ptr<const JsonValue> updateItem;

class BRENVO_EXPORT BrenvoReleaseInfo final : public platform::ReleaseWindowOwner {
public:
    // Creates a controller for the release record `releaseInfo` (copied), loads its window from the
    // services' window registry and shows it. When no window can be shown at all this is logged and
    // the controller closes at once, so the notification still comes. The reference stays valid
    // until the run loop's next pass after the window closed.
    static BrenvoReleaseInfo& initWithReleaseInfo(const JsonValue& releaseInfo,
                                                  platform::Services& services);
    // The same with platform::Services::shared().
    static BrenvoReleaseInfo& initWithReleaseInfo(const JsonValue& releaseInfo);
    // The same for a record already read, shared rather than copied (null: an empty record).
    static BrenvoReleaseInfo& initWithReleaseInfo(std::shared_ptr<const StoreRelease> release,
                                                  platform::Services& services);
    // The same for a check the user asked for (`userInitiated`), whose window takes keys at once;
    // the other forms show a window nobody asked for, which ignores keys for platform::kKeyGuard.
    static BrenvoReleaseInfo& initWithReleaseInfo(std::shared_ptr<const StoreRelease> release,
                                                  platform::Services& services, bool userInitiated);

    ~BrenvoReleaseInfo() override;
    BrenvoReleaseInfo(const BrenvoReleaseInfo&) = delete;
    BrenvoReleaseInfo& operator=(const BrenvoReleaseInfo&) = delete;

    // The window, once loaded; nullptr when none could be shown.
    platform::Window* releaseWindow() const { return releaseWindow_.get(); }
    // This controller's release record, and its fields as read.
    const JsonValue& releaseInfo() const { return *release_->record; }
    const StoreRelease& release() const { return *release_; }

    // Window events: activate, centre and front; the two buttons; the close.
    void awakeFromNib() override;
    void windowWillClose() override;
    void doSkip() override;
    void doOpenMas() override;

    // The window's texts, each computed afresh.
    std::string windowTitle();
    std::string titleText();
    std::string descriptionText();
    std::string releaseText();
    std::optional<std::string> releaseDetails();
    std::string ButtonTitleUpdateNow();
    std::string ButtonTitleUpdateSkip();
    // All of them at once, as the window is shown with them: each accessor above called once, and
    // the key guard of a window the user did not ask for.
    platform::ReleaseTexts releaseTexts();

    // The store address opened for an operating-system version; nullopt (cannot be read) gives
    // the store's web page. Where the version cannot be read, "Open App Store For Update" opens
    // the record's "trackViewUrl" instead when appPage() accepts it, and otherwise says why in a
    // debug line.
    static std::string
    storeAddressForSystemVersion(std::optional<platform::OperatingSystemVersion> version);
    // `trackViewUrl` when it is an https URL of at most 2048 visible ASCII characters, without
    // user information, whose host is one of the store's web hosts ("apps.apple.com",
    // "itunes.apple.com") or the host of `castUrl` when that is an https URL as well; hosts
    // compare without regard to case. Otherwise nullopt, and for a page that is refused the
    // reason in `why` (when not null).
    static std::optional<std::string> appPage(std::optional<std::string> trackViewUrl,
                                              std::optional<std::string> castUrl, std::string* why);

    // Number of controllers in the process-wide slot (shown, or closed and not yet destroyed), of
    // every thread.
    static std::size_t liveControllers();

private:
    BrenvoReleaseInfo(std::shared_ptr<const StoreRelease> release, platform::Services& services);
    void showReleaseWindow();
    void servicesEnded();
    std::string localized(std::string_view key);
    std::string hostValue(std::string_view key);
    std::string recordVersion();
    // Writes "Brenvo: " + text when the host's "BrenvoDebugMessages" reads true.
    void logDebug(std::string_view text);

    platform::Services& services_;
    std::shared_ptr<const StoreRelease> release_;
    std::unique_ptr<platform::Window> releaseWindow_;
    std::shared_ptr<platform::Timer> destroyTimer_;
    uint64_t servicesEnded_ = 0;
    bool closed_ = false;
    bool userInitiated_ = false;
};

// Fills the "%@" placeholders of `format` with `arguments` in order; "%n$@" takes the n-th
// argument, "%%" gives "%". Placeholders without an argument show "(null)"; every other "%"
// sequence is kept as it stands. The arguments are never read as formats.
BRENVO_EXPORT std::string stringWithFormat(std::string_view format,
                                           const std::vector<std::string>& arguments);

} // namespace brenvo
