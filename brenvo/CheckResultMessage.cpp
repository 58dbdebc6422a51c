#include "brenvo/CheckResultMessage.h"

#include "brenvo/BrenvoKeys.h"
#include "brenvo/BrenvoReleaseInfo.h"

#include <string>
#include <string_view>

namespace brenvo {

namespace {

using Kind = CheckOutcome::Kind;

// The texts of the message, which are also their keys in the table "Brenvo".
constexpr std::string_view kWindowTitle = "Software Update";
constexpr std::string_view kOK = "OK";
constexpr std::string_view kUpToDate = "Your version is current";
constexpr std::string_view kNewest = "%@ %@ is the newest version in the App Store.";
constexpr std::string_view kFailed = "The check for updates did not succeed";
constexpr std::string_view kNoConnection = "There is no connection to the App Store.";
constexpr std::string_view kNoAnswer = "The App Store did not answer.";
constexpr std::string_view kUnusable = "The App Store's reply could not be used.";
constexpr std::string_view kBusy = "The App Store is busy. Please try again later.";
constexpr std::string_view kDisabled = "Checks for updates are turned off on this computer.";
constexpr std::string_view kManaged =
    "The updates of this application come from its package manager.";
constexpr std::string_view kNotConfigured =
    "This application does not say where to look for updates.";

std::string_view failureReason(const CheckOutcome& outcome) {
    switch (outcome.kind) {
    case Kind::NoReply:
        return outcome.storeReached ? kNoAnswer : kNoConnection;
    case Kind::RateLimited:
        return kBusy;
    case Kind::Disabled:
        return kDisabled;
    case Kind::Managed:
        return kManaged;
    case Kind::NotConfigured:
        return kNotConfigured;
    default:
        return kUnusable;
    }
}

} // namespace

std::optional<platform::MessageTexts> checkResultTexts(const CheckOutcome& outcome,
                                                       platform::Bundle& mainBundle) {
    if (outcome.kind == Kind::UpdateAvailable || outcome.kind == Kind::Skipped)
        return std::nullopt;
    const auto localized = [&mainBundle](std::string_view key) {
        return mainBundle.localizedStringForKey(key, "", kBrenvoStringsTable);
    };
    const auto hostValue = [&mainBundle](std::string_view key) {
        auto value = mainBundle.objectForInfoDictionaryKey(key);
        if (!value)
            return std::string(kAbsentText);
        const std::string* text = value->asString();
        return text ? *text : value->description();
    };
    platform::MessageTexts texts;
    texts.windowTitle = localized(kWindowTitle);
    texts.buttonTitle = localized(kOK);
    // Up to date, or held back: nothing newer that this system may install now.
    if (outcome.kind == Kind::UpToDate || outcome.kind == Kind::HeldBack) {
        texts.messageText = localized(kUpToDate);
        texts.informativeText = stringWithFormat(
            localized(kNewest), {hostValue(kCFBundleName), hostValue(kCFBundleShortVersionString)});
        return texts;
    }
    texts.failed = true;
    texts.messageText = localized(kFailed);
    texts.informativeText = localized(failureReason(outcome));
    return texts;
}

CheckResultMessage::CheckResultMessage(platform::Services& services) : services_(services) {}

CheckResultMessage::~CheckResultMessage() {
    if (releaseTimer_)
        releaseTimer_->invalidate();
    // Closed without a word to this owner: the toolkit windows let go of it as they are destroyed.
    closed_ = true;
    window_.reset();
}

bool CheckResultMessage::show(const platform::MessageTexts& texts, bool debugMessages) {
    if (window_) {
        window_->close();
        window_.reset();
    }
    if (releaseTimer_)
        releaseTimer_->invalidate();
    closed_ = false;
    window_ = services_.windows.loadWindow(platform::kReleaseInfoWindow, *this, services_.runLoop);
    if (window_ && window_->showMessage(texts))
        return true;
    window_.reset();
    closed_ = true;
    if (debugMessages)
        services_.log.write(std::string(kLogPrefix) +
                            "No window in use shows messages. The check's result is not shown.");
    return false;
}

void CheckResultMessage::awakeFromNib() {
    if (!window_ || closed_)
        return;
    window_->activateApplication();
    window_->center();
    window_->makeKeyAndOrderFront();
}

void CheckResultMessage::windowWillClose() {
    if (closed_)
        return;
    closed_ = true;
    // Released on the next pass: the window that called us is still on the stack.
    releaseTimer_ = platform::Timer::timerWithTimeInterval(0, [this] { window_.reset(); });
    services_.runLoop.addTimer(releaseTimer_, platform::kDefaultRunLoopMode);
}

} // namespace brenvo
