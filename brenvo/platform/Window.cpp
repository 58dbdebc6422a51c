#include "brenvo/platform/Window.h"

namespace brenvo::platform {

void WindowRegistry::registerWindow(std::string name, WindowFactory factory) {
    if (factory)
        factories_[std::move(name)].push_back(std::move(factory));
}

std::unique_ptr<Window> WindowRegistry::loadWindow(std::string_view name, ReleaseWindowOwner& owner,
                                                   RunLoop& loop) const {
    auto it = factories_.find(name);
    if (it == factories_.end())
        return nullptr;
    // A factory may register further factories while it runs: work on a copy.
    std::vector<WindowFactory> candidates = it->second;
    for (auto factory = candidates.rbegin(); factory != candidates.rend(); ++factory) {
        if (auto window = (*factory)(owner, loop))
            return window;
    }
    return nullptr;
}

void WindowRegistry::unregisterWindows(std::string_view name) {
    if (auto it = factories_.find(name); it != factories_.end())
        factories_.erase(it);
}

} // namespace brenvo::platform
