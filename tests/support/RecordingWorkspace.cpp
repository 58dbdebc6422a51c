#include "support/RecordingWorkspace.h"

namespace brenvo::test {

bool RecordingWorkspace::openURL(std::string_view url) {
    urls_.emplace_back(url);
    return result_;
}

} // namespace brenvo::test
