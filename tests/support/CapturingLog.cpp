#include "support/CapturingLog.h"

#include <algorithm>

namespace brenvo::test {

bool CapturingLog::contains(std::string_view text) const {
    return count(text) > 0;
}

size_t CapturingLog::count(std::string_view text) const {
    return static_cast<size_t>(std::count(lines_.begin(), lines_.end(), text));
}

} // namespace brenvo::test
