// The agent's surroundings for the brenvo tool: the services a host application would give it,
// with the tool's own choices (preferences file, window, system version, answers), and the main
// loop that runs it (Brenvo's run loop, GLib's when the GTK window is used, Qt's for the Qt
// window).
#pragma once

#include "brenvo/Brenvo.h"
#include "brenvo/platform/Services.h"
#include "brenvo/platform/SystemVersion.h"
#include "brenvo/platform/linux/TerminalWindow.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace brenvo::tool {

enum class WindowChoice { Auto, Terminal, Gtk, Qt, Notification };

struct HostOptions {
    std::filesystem::path infoPlist;
    std::filesystem::path defaults;
    // Makes "BrenvoDebugMessages" read true whatever the Info.plist says.
    bool forceDebugMessages = false;
    std::optional<platform::OperatingSystemVersion> systemVersion;
    // The window answers by itself and prints its texts; URLs are printed, not opened.
    std::optional<platform::WindowAnswer> answer;
    WindowChoice window = WindowChoice::Auto;
    // Print every URL handed to the system as "open: <url>" on standard output.
    bool printOpenedUrls = true;
    // Seconds a toolkit window or notification stays up before an automatic answer.
    double answerDelay = 0;
};

class Host {
public:
    explicit Host(HostOptions options);
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    platform::Services& services();
    bool usesGtk() const;

    // Runs the main loop until quit(), SIGINT or SIGTERM. True when a signal ended it.
    bool run();
    void quit();
    // Quits once no release window is left (closed windows are destroyed on a later pass).
    void quitWhenWindowsAreGone();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Parses "X", "X.Y" or "X.Y.Z" (decimal, non-negative, each fitting 32 bits).
std::optional<platform::OperatingSystemVersion> parseSystemVersion(const std::string& text);

// Parses "terminal", "gtk", "qt" or "notification".
std::optional<WindowChoice> parseWindowChoice(const std::string& text);

} // namespace brenvo::tool
