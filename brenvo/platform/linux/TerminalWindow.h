// The release-info window on a terminal: prints the texts it is shown with and reads the user's
// answer as one line (o: open the store, s: skip this version, anything else or end of input:
// close). Control characters in the texts are printed as visible escapes; the release notes keep
// their line breaks. The answer is read through the run loop, so timers keep firing while it waits,
// and a standard input that is not a terminal never stalls the loop.
//
//   brenvo::platform::registerTerminalWindow(services.windows);
//   // or answer without asking, e.g. for scripted runs:
//   brenvo::platform::registerTerminalWindow(services.windows, {0, 1, WindowAnswer::Skip});
#pragma once

#include "brenvo/Export.h"
#include "brenvo/platform/Window.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace brenvo::platform {

struct TerminalWindowOptions {
    int inputFd = 0;  // where the answer is read from
    int outputFd = 1; // where the texts are printed
    // When set, the window prints its texts and gives this answer by itself on the run loop's
    // next pass instead of reading one.
    std::optional<WindowAnswer> answer;
    // Shows the window only when both descriptors are terminals, so that somebody can see it
    // and answer: the rule for a fallback nobody asked for by name. An application started from
    // a desktop launcher (input at end of file) then gets no terminal window.
    bool onlyWhenInteractive = false;
};

// The window's texts as the terminal shows them: title, title text, description, the release
// notes under their heading (between two rules of "  +--------", each line behind "  | ", cut
// as shownReleaseDetails() says), and the two buttons as "[o]" and "[s]" choices.
BRENVO_EXPORT std::string releaseWindowText(const ReleaseTexts& texts);

// A message as the terminal prints it: one line, "<messageText> — <informativeText>", each text
// printable; the window then closes at once.
BRENVO_EXPORT std::string messageLine(const MessageTexts& texts);

// A terminal window for `owner`; nullptr when the output (or, when reading, the input) is not
// an open file descriptor.
BRENVO_EXPORT std::unique_ptr<Window> makeTerminalWindow(ReleaseWindowOwner& owner, RunLoop& loop,
                                                         const TerminalWindowOptions& options);

// Registers the terminal window under kReleaseInfoWindow.
BRENVO_EXPORT void registerTerminalWindow(WindowRegistry& registry);
BRENVO_EXPORT void registerTerminalWindow(WindowRegistry& registry,
                                          const TerminalWindowOptions& options);

} // namespace brenvo::platform
