// A workspace that records the URLs it is asked to open instead of opening them.
#pragma once

#include "brenvo/platform/Workspace.h"

#include <string>
#include <vector>

namespace brenvo::test {

class RecordingWorkspace final : public platform::Workspace {
public:
    bool openURL(std::string_view url) override {
        urls_.emplace_back(url);
        return true;
    }

    const std::vector<std::string>& openedURLs() const { return urls_; }

private:
    std::vector<std::string> urls_;
};

} // namespace brenvo::test
