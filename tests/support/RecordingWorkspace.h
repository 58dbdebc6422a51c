// A workspace that records the URLs it is asked to open instead of opening them.
#pragma once

#include "brenvo/platform/Workspace.h"

#include <string>
#include <vector>

namespace brenvo::test {

class RecordingWorkspace final : public platform::Workspace {
public:
    bool openURL(std::string_view url) override;

    const std::vector<std::string>& openedURLs() const { return urls_; }
    // What openURL() answers from now on (true at first).
    void setResult(bool result) { result_ = result; }

private:
    std::vector<std::string> urls_;
    bool result_ = true;
};

} // namespace brenvo::test
