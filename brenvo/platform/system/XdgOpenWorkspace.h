// Opens URLs with xdg-open, detached: the caller never waits for the program that handles the
// URL, and no child process is left for the caller to reap.
#pragma once

#include "brenvo/Export.h"
#include "brenvo/platform/Workspace.h"

#include <string>

namespace brenvo::platform {

class BRENVO_EXPORT XdgOpenWorkspace final : public Workspace {
public:
    XdgOpenWorkspace();
    // Runs `program` (looked up in PATH when it has no slash) instead of "xdg-open".
    explicit XdgOpenWorkspace(std::string program);

    // Starts the program with the URL as its only argument, never through a shell. False when
    // the URL is refused (empty, no "scheme:" prefix, control characters) or the program could
    // not be started.
    bool openURL(std::string_view url) override;

    // True for URLs that openURL() hands on.
    static bool isAcceptableURL(std::string_view url);

private:
    std::string program_;
};

} // namespace brenvo::platform
