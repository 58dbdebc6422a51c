// A log that keeps every message text (without time stamp) for tests to compare exactly.
#pragma once

#include "brenvo/platform/Log.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace brenvo::test {

class CapturingLog final : public platform::Log {
public:
    void write(std::string_view text) override { lines_.emplace_back(text); }

    const std::vector<std::string>& lines() const { return lines_; }
    // True when some message equals `text` exactly.
    bool contains(std::string_view text) const {
        return std::find(lines_.begin(), lines_.end(), text) != lines_.end();
    }
    void clear() { lines_.clear(); }

private:
    std::vector<std::string> lines_;
};

} // namespace brenvo::test
