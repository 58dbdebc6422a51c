// Opens URLs with the desktop's launcher: the one an optional library installs (GIO, when
// Brenvo::glib is loaded), else xdg-open, detached: the caller never waits for the program that
// handles the URL, and no child process is left for the caller to reap. When nothing could open
// the URL, the log says so.
//
//   XdgOpenWorkspace workspace(&log);
//   workspace.openURL("https://example.org/");
//   // or, with nothing to open it: "Brenvo: Cannot open https://example.org/: GIO: ...;
//   //                              xdg-open: No such file or directory"
#pragma once

#include "brenvo/Export.h"
#include "brenvo/platform/Log.h"
#include "brenvo/platform/Workspace.h"

#include <string>

namespace brenvo::platform {

// A launcher tried before xdg-open. It returns true when the URL was handed on, else false with
// the reason in `why`.
using DesktopUrlLauncher = bool (*)(std::string_view url, std::string& why);
// Installs the launcher that every XdgOpenWorkspace tries first (nullptr: xdg-open only).
BRENVO_EXPORT void setDesktopUrlLauncher(DesktopUrlLauncher launcher);
BRENVO_EXPORT DesktopUrlLauncher desktopUrlLauncher();

class BRENVO_EXPORT XdgOpenWorkspace final : public Workspace {
public:
    XdgOpenWorkspace();
    // Reports URLs that could not be opened on `log` (when not null).
    explicit XdgOpenWorkspace(Log* log);
    // Runs `program` (looked up in PATH when it has no slash) instead of "xdg-open".
    explicit XdgOpenWorkspace(std::string program);
    XdgOpenWorkspace(std::string program, Log* log);

    // Hands the URL to the installed launcher, else starts the program with the URL as its only
    // argument, never through a shell, and with none of the host's descriptors but standard
    // input and output (both /dev/null) and standard error. False when the URL is refused (empty,
    // no "scheme:" prefix, control characters) or neither could take it.
    bool openURL(std::string_view url) override;

    // True for URLs that openURL() hands on.
    static bool isAcceptableURL(std::string_view url);

    // openURL() with an explicit launcher (may be null) and program.
    static bool openURL(std::string_view url, DesktopUrlLauncher launcher,
                        const std::string& program, Log* log);

private:
    std::string program_;
    Log* log_ = nullptr;
};

} // namespace brenvo::platform
