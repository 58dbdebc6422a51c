// The answer to "Check for Updates…" when no release window follows: a short message with one
// "OK" button in the window kind the services' registry gives for "BrenvoReleaseInfo" (a toolkit
// window, the desktop notification, the terminal). Its texts come from the host's localisation
// table "Brenvo", English keys as defaults, as the release window's do.
//
//   if (auto texts = checkResultTexts(outcome, services.mainBundle))
//       message.show(*texts);
#pragma once

#include "brenvo/CheckOutcome.h"
#include "brenvo/Export.h"
#include "brenvo/platform/Services.h"
#include "brenvo/platform/Window.h"

#include <memory>
#include <optional>

namespace brenvo {

// The message for a check's `outcome`: "Your version is current" with "%@ %@ is the newest
// version in the App Store." (the host's "CFBundleName" and "CFBundleShortVersionString") when
// the store offers nothing newer for this system, else "The check for updates did not succeed"
// with a reason a person can read. nullopt for UpdateAvailable (the release window answers) and
// Skipped (never the outcome of a check the user asked for).
BRENVO_EXPORT std::optional<platform::MessageTexts> checkResultTexts(const CheckOutcome& outcome,
                                                                     platform::Bundle& mainBundle);

// One message window at a time. The window object is released on the loop's next pass after it
// closes; a message still open when this is destroyed closes with it. Used on the thread that runs
// `services.runLoop`.
class BRENVO_EXPORT CheckResultMessage final : public platform::ReleaseWindowOwner {
public:
    explicit CheckResultMessage(platform::Services& services);
    ~CheckResultMessage() override;
    CheckResultMessage(const CheckResultMessage&) = delete;
    CheckResultMessage& operator=(const CheckResultMessage&) = delete;

    // Closes a message still shown, then shows `texts`; false, with a debug line when
    // `debugMessages`, when the window in use cannot show one.
    bool show(const platform::MessageTexts& texts, bool debugMessages);
    bool isShown() const { return window_ != nullptr && !closed_; }

    void awakeFromNib() override;
    void windowWillClose() override;
    // A message has no such buttons.
    void doOpenMas() override {}
    void doSkip() override {}

private:
    platform::Services& services_;
    std::unique_ptr<platform::Window> window_;
    std::shared_ptr<platform::Timer> releaseTimer_;
    bool closed_ = false;
};

} // namespace brenvo
