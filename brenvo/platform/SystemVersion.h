// The operating system's version (major, minor, bug-fix), where it can be read.
#pragma once

#include "brenvo/Export.h"

#include <cstdint>
#include <optional>

namespace brenvo::platform {

struct OperatingSystemVersion {
    int32_t major = 0;
    int32_t minor = 0;
    int32_t bugFix = 0;
};

class BRENVO_EXPORT SystemVersion {
public:
    virtual ~SystemVersion();
    // nullopt where the version cannot be read, which is every system but macOS.
    virtual std::optional<OperatingSystemVersion> systemVersion() = 0;
};

// A version fixed at construction; nullopt stands for "cannot be read".
class BRENVO_EXPORT FixedSystemVersion final : public SystemVersion {
public:
    explicit FixedSystemVersion(std::optional<OperatingSystemVersion> version = std::nullopt)
        : version_(version) {}
    std::optional<OperatingSystemVersion> systemVersion() override { return version_; }
    void setVersion(std::optional<OperatingSystemVersion> version) { version_ = version; }

private:
    std::optional<OperatingSystemVersion> version_;
};

} // namespace brenvo::platform
