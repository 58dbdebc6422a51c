// The user's defaults: a small persistent store of property-list values per host application.
#pragma once

#include "brenvo/Export.h"
#include "brenvo/platform/PropertyList.h"

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace brenvo::platform {

class BRENVO_EXPORT UserDefaults {
public:
    virtual ~UserDefaults();

    // The value stored under `key`, or nullopt.
    virtual std::optional<PlistValue> objectForKey(std::string_view key) = 0;
    // Stores `value` under `key`; it reaches persistent storage at the latest on synchronize().
    virtual void setObject(const PlistValue& value, std::string_view key) = 0;
    virtual void removeObjectForKey(std::string_view key) = 0;
    // Writes pending changes out at once. False when they could not be written; the previous
    // file is then intact and the failure has been logged.
    virtual bool synchronize() = 0;

    // The text stored under `key`: a string as it is, a number in its decimal form; nullopt for
    // anything else.
    std::optional<std::string> stringForKey(std::string_view key);
};

// Another UserDefaults made safe to share between threads: one call at a time. The default
// services share theirs this way between the agents of every thread.
class BRENVO_EXPORT LockedUserDefaults final : public UserDefaults {
public:
    // `inner` must outlive this object and be used through it only.
    explicit LockedUserDefaults(UserDefaults& inner) : inner_(inner) {}

    std::optional<PlistValue> objectForKey(std::string_view key) override;
    void setObject(const PlistValue& value, std::string_view key) override;
    void removeObjectForKey(std::string_view key) override;
    bool synchronize() override;

private:
    std::mutex mutex_;
    UserDefaults& inner_;
};

} // namespace brenvo::platform
