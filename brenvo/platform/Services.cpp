#include "brenvo/platform/Services.h"

#include <algorithm>

namespace brenvo::platform {

ServicesLifetime::ServicesLifetime() = default;

ServicesLifetime::~ServicesLifetime() {
    // A function may cancel others while it runs: take them one at a time.
    while (!ended_.empty()) {
        std::function<void()> ended = std::move(ended_.back().second);
        ended_.pop_back();
        if (ended)
            ended();
    }
}

uint64_t ServicesLifetime::whenEnded(std::function<void()> ended) {
    const uint64_t handle = next_++;
    ended_.emplace_back(handle, std::move(ended));
    return handle;
}

void ServicesLifetime::cancel(uint64_t handle) {
    std::erase_if(ended_, [handle](const auto& entry) { return entry.first == handle; });
}

} // namespace brenvo::platform
