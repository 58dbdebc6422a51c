#include "brenvo/platform/Window.h"

#include "brenvo/utf/Printable.h"

#include <algorithm>
#include <mutex>

namespace brenvo::platform {

namespace {

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The byte offset of the first ASCII letter or digit of `label` whose lower case is not in
// `taken`; nullopt when there is none.
std::optional<size_t> mnemonicPosition(std::string_view label, std::string_view taken) {
    for (size_t i = 0; i < label.size(); ++i) {
        const char c = label[i];
        const bool letter =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (letter && taken.find(lowerAscii(c)) == std::string_view::npos)
            return i;
    }
    return std::nullopt;
}

} // namespace

std::optional<WindowAnswer> windowAnswerFromString(std::string_view text) {
    if (text == "open")
        return WindowAnswer::Open;
    if (text == "skip")
        return WindowAnswer::Skip;
    if (text == "close")
        return WindowAnswer::Close;
    return std::nullopt;
}

std::optional<std::string> shownReleaseDetails(const ReleaseTexts& texts) {
    auto notes = texts.releaseDetails;
    if (notes && notes->size() > kMaxShownReleaseNotes)
        notes = utf::shortened(*notes, kMaxShownReleaseNotes);
    return notes;
}

void WindowRegistry::registerWindow(std::string name, WindowFactory factory) {
    if (!factory)
        return;
    std::lock_guard<std::mutex> hold(mutex_);
    factories_[std::move(name)].push_back(std::move(factory));
}

std::unique_ptr<Window> WindowRegistry::loadWindow(std::string_view name, ReleaseWindowOwner& owner,
                                                   RunLoop& loop) const {
    // A factory may register further factories while it runs: work on a copy.
    std::vector<WindowFactory> candidates;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        auto it = factories_.find(name);
        if (it == factories_.end())
            return nullptr;
        candidates = it->second;
    }
    for (auto factory = candidates.rbegin(); factory != candidates.rend(); ++factory) {
        if (auto window = (*factory)(owner, loop))
            return window;
    }
    return nullptr;
}

void WindowRegistry::unregisterWindows(std::string_view name) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (auto it = factories_.find(name); it != factories_.end())
        factories_.erase(it);
}

namespace {

struct DefaultWindows {
    std::mutex lock;
    std::vector<std::pair<DefaultWindowRank, DefaultWindowFactory>> offers;
};

// Never destroyed: libraries offer their windows from their static initialisers, in any order.
DefaultWindows& defaultWindows() {
    static auto* windows = new DefaultWindows();
    return *windows;
}

} // namespace

void offerDefaultWindow(DefaultWindowRank rank, DefaultWindowFactory factory) {
    if (!factory)
        return;
    DefaultWindows& windows = defaultWindows();
    std::lock_guard<std::mutex> hold(windows.lock);
    for (auto& [offered, existing] : windows.offers) {
        if (offered == rank) {
            existing = std::move(factory);
            return;
        }
    }
    windows.offers.emplace_back(rank, std::move(factory));
}

void registerDefaultWindows(WindowRegistry& registry, Log& log) {
    std::vector<std::pair<DefaultWindowRank, DefaultWindowFactory>> offers;
    {
        DefaultWindows& windows = defaultWindows();
        std::lock_guard<std::mutex> hold(windows.lock);
        offers = windows.offers;
    }
    std::stable_sort(offers.begin(), offers.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [rank, factory] : offers) {
        registry.registerWindow(
            std::string(kReleaseInfoWindow),
            [factory = std::move(factory), &log](ReleaseWindowOwner& owner, RunLoop& loop) {
                return factory(owner, loop, log);
            });
    }
}

std::string withMnemonic(const ButtonTitle& title, char marker) {
    std::string out;
    for (size_t i = 0; i < title.text.size(); ++i) {
        if (title.mnemonic && i == *title.mnemonic)
            out += marker;
        out += title.text[i];
        if (title.text[i] == marker)
            out += marker;
    }
    if (!title.mnemonic)
        out += std::string(" (") + marker + title.fallback + ")";
    return out;
}

void ReleaseTexts::setButtonTitles(std::string now, std::string skip) {
    std::string taken;
    const auto give = [&taken](std::string text, char fallback) {
        const std::optional<size_t> mnemonic = mnemonicPosition(text, taken);
        ButtonTitle title{std::move(text), mnemonic, fallback};
        taken += lowerAscii(title.mnemonic ? title.text[*title.mnemonic] : fallback);
        return title;
    };
    buttonTitleUpdateNow = give(std::move(now), 'O');
    buttonTitleUpdateSkip = give(std::move(skip), 'S');
}

void Window::activateApplication() {}
void Window::center() {}
void Window::makeKeyAndOrderFront() {}
bool Window::showMessage(const MessageTexts&) {
    return false;
}

} // namespace brenvo::platform
