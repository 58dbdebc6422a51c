// The system log: one line per message, "2026-12-08 01:10:09.123 app[4242] text", to standard
// error and syslog, or to a sink that the host installs. The text is written as it is, never
// read as a format.
#pragma once

#include "brenvo/Export.h"

#include <functional>
#include <string>
#include <string_view>

namespace brenvo::platform {

class BRENVO_EXPORT Log {
public:
    virtual ~Log();
    virtual void write(std::string_view text) = 0;
};

class BRENVO_EXPORT SystemLog final : public Log {
public:
    // Sends whole lines (with stamp, without line feed) to `sink` instead of stderr and syslog;
    // an empty function restores them.
    void setSink(std::function<void(std::string_view line)> sink);
    void write(std::string_view text) override;

private:
    std::function<void(std::string_view)> sink_;
};

// Formats the stamped line for `text` as SystemLog writes it.
BRENVO_EXPORT std::string formatLogLine(std::string_view text);

} // namespace brenvo::platform
