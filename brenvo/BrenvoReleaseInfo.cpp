#include "brenvo/BrenvoReleaseInfo.h"

#include "brenvo/BrenvoKeys.h"
#include "brenvo/utf/Printable.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <vector>

namespace brenvo {

thread_local std::shared_ptr<const JsonValue> updateItem;

namespace {

// Store addresses opened by "Open App Store For Update".
constexpr std::string_view kStoreFrontPage = "macappstore://itunes.apple.com/";
constexpr std::string_view kStoreUpdatesPage = "macappstore://showUpdatesPage/";
constexpr std::string_view kStoreWebPage = "https://www.apple.com/mac/app-store/";
// The hosts of the store's own web pages, which a record's "trackViewUrl" may name.
constexpr std::array<std::string_view, 2> kStoreWebHosts = {"apps.apple.com", "itunes.apple.com"};
// The longest "trackViewUrl" that is opened.
constexpr size_t kLongestPage = 2048;

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return lowerAscii(x) == lowerAscii(y);
           });
}

// The host of an https URL (scheme in any case): the authority after "//", up to the first "/",
// "?" or "#", less a port of digits. A browser never reads the authority as longer than that, so
// the host given is at least as long as the one a browser would visit. nullopt, with the reason,
// when the text is no such URL, names user information, or has an empty or unreadable host.
std::optional<std::string_view> httpsHost(std::string_view url, std::string& why) {
    constexpr std::string_view kScheme = "https://";
    if (url.size() < kScheme.size() || !equalIgnoringCase(url.substr(0, kScheme.size()), kScheme)) {
        why = "it is not an https URL";
        return std::nullopt;
    }
    std::string_view authority = url.substr(kScheme.size());
    authority = authority.substr(0, std::min(authority.find_first_of("/?#"), authority.size()));
    if (authority.find('@') != std::string_view::npos) {
        why = "it names user information";
        return std::nullopt;
    }
    std::string_view host = authority;
    const size_t colon = authority.rfind(':');
    if (colon != std::string_view::npos && authority.find(']', colon) == std::string_view::npos) {
        const std::string_view port = authority.substr(colon + 1);
        if (!std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            why = "its port is not a number";
            return std::nullopt;
        }
        host = authority.substr(0, colon);
    }
    if (host.empty()) {
        why = "it names no host";
        return std::nullopt;
    }
    // Names and numeric addresses only: nothing a browser would decode or read otherwise.
    const bool literal = host.front() == '[' && host.back() == ']';
    for (const char c : literal ? host.substr(1, host.size() - 2) : host) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.' || (literal && c == ':');
        if (!plain) {
            why = "its host cannot be read";
            return std::nullopt;
        }
    }
    return host;
}

// The process-wide slot owning every controller from its creation until its window has closed.
// It is never destroyed, so a window still open at exit is not torn down behind the toolkit.
// Windows on several threads share it under its lock; each controller is used on its own thread.
std::vector<std::unique_ptr<BrenvoReleaseInfo>>& controllers() {
    static auto* slot = new std::vector<std::unique_ptr<BrenvoReleaseInfo>>();
    return *slot;
}

std::mutex& controllersLock() {
    static auto* lock = new std::mutex();
    return *lock;
}

void destroyController(const BrenvoReleaseInfo* controller) {
    std::unique_ptr<BrenvoReleaseInfo> doomed;
    {
        std::lock_guard<std::mutex> hold(controllersLock());
        auto& slot = controllers();
        auto it = std::find_if(slot.begin(), slot.end(),
                               [&](const auto& owned) { return owned.get() == controller; });
        if (it == slot.end())
            return;
        doomed = std::move(*it);
        slot.erase(it);
    }
    doomed.reset(); // its destructor may reach the toolkit; the slot is consistent by now
}

} // namespace

std::string stringWithFormat(std::string_view format, const std::vector<std::string>& arguments) {
    std::string out;
    out.reserve(format.size());
    size_t next = 0;
    auto argument = [&](size_t index) -> std::string_view {
        return index < arguments.size() ? std::string_view(arguments[index]) : kAbsentText;
    };
    for (size_t i = 0; i < format.size(); ++i) {
        char c = format[i];
        if (c != '%' || i + 1 >= format.size()) {
            out += c;
            continue;
        }
        char d = format[i + 1];
        if (d == '@') {
            out += argument(next++);
            ++i;
        } else if (d == '%') {
            out += '%';
            ++i;
        } else if (d >= '1' && d <= '9') {
            size_t j = i + 1;
            size_t position = 0;
            while (j < format.size() && format[j] >= '0' && format[j] <= '9' && position < 1000)
                position = position * 10 + static_cast<size_t>(format[j++] - '0');
            if (j + 1 < format.size() && format[j] == '$' && format[j + 1] == '@') {
                out += argument(position - 1);
                i = j + 1;
            } else {
                out += c;
            }
        } else {
            out += c;
        }
    }
    return out;
}

BrenvoReleaseInfo::BrenvoReleaseInfo(std::shared_ptr<const StoreRelease> release,
                                     platform::Services& services)
    : services_(services),
      release_(release ? std::move(release)
                       : std::make_shared<const StoreRelease>(readStoreRelease(nullptr))) {
    // Services that end before the window closes take the window with them.
    servicesEnded_ = services_.lifetime.whenEnded([this] { servicesEnded(); });
}

BrenvoReleaseInfo& BrenvoReleaseInfo::initWithReleaseInfo(const JsonValue& releaseInfo) {
    return initWithReleaseInfo(releaseInfo, platform::Services::shared());
}

BrenvoReleaseInfo& BrenvoReleaseInfo::initWithReleaseInfo(const JsonValue& releaseInfo,
                                                          platform::Services& services) {
    return initWithReleaseInfo(std::make_shared<const StoreRelease>(readStoreRelease(
                                   std::make_shared<const JsonValue>(releaseInfo))),
                               services);
}

BrenvoReleaseInfo&
BrenvoReleaseInfo::initWithReleaseInfo(std::shared_ptr<const StoreRelease> release,
                                       platform::Services& services) {
    return initWithReleaseInfo(std::move(release), services, false);
}

BrenvoReleaseInfo&
BrenvoReleaseInfo::initWithReleaseInfo(std::shared_ptr<const StoreRelease> release,
                                       platform::Services& services, bool userInitiated) {
    auto* made = new BrenvoReleaseInfo(std::move(release), services);
    made->userInitiated_ = userInitiated;
    {
        std::lock_guard<std::mutex> hold(controllersLock());
        controllers().push_back(std::unique_ptr<BrenvoReleaseInfo>(made));
    }
    BrenvoReleaseInfo& controller = *made;
    // The record is in place before any control of the window reads a text.
    updateItem = controller.release_->record;
    controller.showReleaseWindow();
    return controller;
}

BrenvoReleaseInfo::~BrenvoReleaseInfo() {
    // Only this controller's own copy is released; a newer controller's record stays.
    if (updateItem == release_->record)
        updateItem.reset();
    if (destroyTimer_)
        destroyTimer_->invalidate();
    if (servicesEnded_)
        services_.lifetime.cancel(servicesEnded_);
    releaseWindow_.reset();
}

void BrenvoReleaseInfo::servicesEnded() {
    servicesEnded_ = 0;
    // A close without an answer, while everything the close needs still exists; then the
    // controller goes at once, since no later pass of the loop can be counted on.
    if (!closed_) {
        if (releaseWindow_)
            releaseWindow_->close();
        windowWillClose();
    }
    destroyController(this);
}

void BrenvoReleaseInfo::showReleaseWindow() {
    releaseWindow_ =
        services_.windows.loadWindow(platform::kReleaseInfoWindow, *this, services_.runLoop);
    if (!releaseWindow_) {
        services_.log.write(std::string(kLogPrefix) +
                            "No release window could be shown; closing it at once.");
        windowWillClose();
        return;
    }
    releaseWindow_->showWindow(releaseTexts());
}

void BrenvoReleaseInfo::awakeFromNib() {
    if (!releaseWindow_ || closed_)
        return;
    releaseWindow_->activateApplication();
    releaseWindow_->center();
    releaseWindow_->makeKeyAndOrderFront();
}

void BrenvoReleaseInfo::windowWillClose() {
    if (closed_)
        return;
    closed_ = true;
    services_.defaultCenter.postNotificationName(kBrenvoReleaseWindowClosed, nullptr);
    // Destroyed on the next pass: the window that called us is still on the stack.
    const BrenvoReleaseInfo* self = this;
    destroyTimer_ = platform::Timer::timerWithTimeInterval(0, [self] { destroyController(self); });
    services_.runLoop.addTimer(destroyTimer_, platform::kDefaultRunLoopMode);
}

void BrenvoReleaseInfo::doSkip() {
    if (closed_)
        return;
    // Without a version text there is nothing to skip; an earlier skipped version stays. The
    // version is stored in the form the defaults file holds, which the check compares with.
    if (release_->versionFault == StoreRelease::VersionFault::TooLong) {
        logDebug("A version longer than " + std::to_string(kMaxVersionLength) +
                 " bytes is not remembered as skipped.");
    } else if (release_->version) {
        services_.standardUserDefaults.setObject(
            platform::PlistValue(platform::storableText(*release_->version)), kBrenvoSkipVersion);
        services_.standardUserDefaults.synchronize();
    }
    if (releaseWindow_)
        releaseWindow_->close();
}

void BrenvoReleaseInfo::doOpenMas() {
    if (closed_)
        return;
    const auto system = services_.systemVersion.systemVersion();
    // Where the store application is out of reach, the application's own store page is the
    // nearest thing, when the record names one over https.
    std::optional<std::string> page;
    if (!system) {
        const std::optional<std::string>& trackViewUrl = release_->page;
        std::optional<std::string> castUrl;
        if (auto value = services_.mainBundle.objectForInfoDictionaryKey(kBrenvoCastUrl))
            castUrl = value->description();
        std::string why;
        page = appPage(trackViewUrl, castUrl, &why);
        if (!page && trackViewUrl)
            logDebug("The release record's page " + utf::logField(*trackViewUrl) +
                     " is not opened: " + why + ". Opening the store's web page instead.");
    }
    services_.workspace.openURL(page ? *page : storeAddressForSystemVersion(system));
    if (releaseWindow_)
        releaseWindow_->close();
}

std::string BrenvoReleaseInfo::storeAddressForSystemVersion(
    std::optional<platform::OperatingSystemVersion> version) {
    if (!version)
        return std::string(kStoreWebPage);
    if (version->major == 10 && version->minor == 6 && version->bugFix >= 6)
        return std::string(kStoreFrontPage);
    if ((version->major == 10 && version->minor >= 7) || version->major >= 11)
        return std::string(kStoreUpdatesPage);
    return std::string(kStoreWebPage);
}

std::optional<std::string> BrenvoReleaseInfo::appPage(std::optional<std::string> trackViewUrl,
                                                      std::optional<std::string> castUrl,
                                                      std::string* why) {
    std::string reason;
    const auto refuse = [&](std::string text) -> std::optional<std::string> {
        if (why != nullptr)
            *why = std::move(text);
        return std::nullopt;
    };
    if (!trackViewUrl)
        return std::nullopt;
    if (trackViewUrl->size() > kLongestPage)
        return refuse("it is longer than " + std::to_string(kLongestPage) + " characters");
    // Only visible ASCII: no space, control character or anything a launcher could misread.
    if (!std::all_of(trackViewUrl->begin(), trackViewUrl->end(),
                     [](char c) { return c > ' ' && c < 0x7F; }))
        return refuse("it holds a character other than visible ASCII");
    const auto host = httpsHost(*trackViewUrl, reason);
    if (!host)
        return refuse(reason);
    const bool storeHost =
        std::any_of(kStoreWebHosts.begin(), kStoreWebHosts.end(),
                    [&](std::string_view known) { return equalIgnoringCase(*host, known); });
    // An application that serves its own lookup file names its own pages, over https too.
    std::string ignored;
    const auto castHost = castUrl ? httpsHost(*castUrl, ignored) : std::nullopt;
    if (!storeHost && !(castHost && equalIgnoringCase(*host, *castHost)))
        return refuse("its host is neither the store's nor that of an https BrenvoCastUrl");
    return trackViewUrl;
}

std::size_t BrenvoReleaseInfo::liveControllers() {
    std::lock_guard<std::mutex> hold(controllersLock());
    return controllers().size();
}

std::string BrenvoReleaseInfo::localized(std::string_view key) {
    return services_.mainBundle.localizedStringForKey(key, "", kBrenvoStringsTable);
}

std::string BrenvoReleaseInfo::hostValue(std::string_view key) {
    auto value = services_.mainBundle.objectForInfoDictionaryKey(key);
    if (!value)
        return std::string(kAbsentText);
    if (const std::string* text = value->asString())
        return *text;
    return value->description();
}

std::string BrenvoReleaseInfo::recordVersion() {
    return release_->shownVersion.value_or(std::string(kAbsentText));
}

void BrenvoReleaseInfo::logDebug(std::string_view text) {
    const auto debug = services_.mainBundle.objectForInfoDictionaryKey(kBrenvoDebugMessages);
    if (!debug || !debug->boolValue())
        return;
    std::string line(kLogPrefix);
    utf::appendPrintable(line, text);
    services_.log.write(line);
}

std::string BrenvoReleaseInfo::windowTitle() {
    return localized("Software Update");
}

std::string BrenvoReleaseInfo::titleText() {
    return stringWithFormat(localized("A new Version of %@ is available!"),
                            {hostValue(kCFBundleName)});
}

std::string BrenvoReleaseInfo::descriptionText() {
    return stringWithFormat(
        localized("%@ %@ is now available - you have %@. Would you like to "
                  "open App Store for Update now?"),
        {hostValue(kCFBundleName), recordVersion(), hostValue(kCFBundleShortVersionString)});
}

std::string BrenvoReleaseInfo::releaseText() {
    return localized("Release Notes:");
}

std::optional<std::string> BrenvoReleaseInfo::releaseDetails() {
    return release_->releaseNotes;
}

std::string BrenvoReleaseInfo::ButtonTitleUpdateNow() {
    return localized("Open App Store For Update");
}

std::string BrenvoReleaseInfo::ButtonTitleUpdateSkip() {
    return localized("Skip This Version");
}

platform::ReleaseTexts BrenvoReleaseInfo::releaseTexts() {
    platform::ReleaseTexts texts;
    texts.windowTitle = windowTitle();
    texts.titleText = titleText();
    texts.descriptionText = descriptionText();
    texts.releaseText = releaseText();
    texts.releaseDetails = releaseDetails();
    std::string now = ButtonTitleUpdateNow();
    texts.setButtonTitles(std::move(now), ButtonTitleUpdateSkip());
    texts.keyGuard = userInitiated_ ? std::chrono::milliseconds::zero() : platform::kKeyGuard;
    return texts;
}

} // namespace brenvo
