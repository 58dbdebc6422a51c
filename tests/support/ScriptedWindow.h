// A release-info window for tests: records what it showed and answers as scripted, on the run
// loop's next pass after it was shown (or when the test says so).
//
//   brenvo::test::ScriptedWindow windows(WindowAnswer::Skip);
//   windows.registerWith(services.windows);
//   ... run the loop ...
//   EXPECT_EQ(windows.shown().at(0).texts.descriptionText, "Demo 2.0 is now available - ...");
#pragma once

#include "brenvo/platform/Window.h"
#include "brenvo/platform/linux/TerminalWindow.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brenvo::test {

class ScriptedWindow {
public:
    // What one window showed and what happened to it.
    struct Shown {
        platform::ReleaseTexts texts;
        std::optional<platform::MessageTexts> message; // shown by showMessage() instead
        int awakenings = 0;                            // awakeFromNib() calls made by the window
        int activations = 0;                           // activateApplication()
        int centerings = 0;                            // center()
        int frontings = 0;                             // makeKeyAndOrderFront()
        int willCloseCalls = 0;                        // windowWillClose() sent to the owner
        bool destroyed = false;
    };

    // `answer`: what every window answers by itself; nullopt leaves windows open until
    // answer() or closeByWindowManager() is called.
    explicit ScriptedWindow(std::optional<platform::WindowAnswer> answer);

    // Registers under platform::kReleaseInfoWindow.
    void registerWith(platform::WindowRegistry& registry);
    // Makes the factory give no window (as when there is no display).
    void setRefuse(bool refuse);

    const std::vector<Shown>& shown() const;
    // Answers the newest open window now (Open, Skip, or Close as if by its close box).
    void answer(platform::WindowAnswer answer);
    void closeByWindowManager();

    struct State;

private:
    std::shared_ptr<State> state_;
};

} // namespace brenvo::test
