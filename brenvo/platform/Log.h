// The system log: one line per message, "2026-12-08 01:10:09.123 app[4242] text", to standard
// error and syslog, or to a sink that the host installs. Syslog lines go to the user facility
// at notice level; the library never calls openlog() or closelog(), so the name, options and
// default facility the host set with its own openlog() apply to the host's lines as before (and
// its name and options to the library's lines too). The text is never read as a format, and
// control characters in it (line breaks, escape sequences, bidirectional controls) are shown as
// visible escapes, so a line is always exactly one line whatever text it carries.
#pragma once

#include "brenvo/Export.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace brenvo::platform {

class BRENVO_EXPORT Log {
public:
    virtual ~Log();
    // Writes one line. Text that came from outside may hold anything: an implementation that
    // shows it to a person makes it printable first (brenvo/utf/Printable.h).
    virtual void write(std::string_view text) = 0;
};

// Safe to use from any thread.
class BRENVO_EXPORT SystemLog final : public Log {
public:
    SystemLog();
    ~SystemLog() override;
    // Sends whole lines (with stamp, without line feed) to `sink` instead of stderr and syslog;
    // an empty function restores them. The sink is called with no lock held.
    void setSink(std::function<void(std::string_view line)> sink);
    void write(std::string_view text) override;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Formats the stamped line for `text` as SystemLog writes it, with `text` made printable.
BRENVO_EXPORT std::string formatLogLine(std::string_view text);

} // namespace brenvo::platform
