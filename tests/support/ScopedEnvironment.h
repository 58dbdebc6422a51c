// Sets environment variables for one test: each named one is unset, then the given ones set; the
// previous values come back at the end of the scope.
#pragma once

#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace brenvo::test {

class ScopedEnvironment {
public:
    using Values = std::map<std::string, std::string>;

    ScopedEnvironment(std::vector<std::string> names, const Values& values)
        : names_(std::move(names)) {
        for (const std::string& name : names_) {
            if (const char* old = std::getenv(name.c_str()))
                saved_[name] = old;
            ::unsetenv(name.c_str());
        }
        for (const auto& [name, value] : values)
            ::setenv(name.c_str(), value.c_str(), 1);
    }
    ~ScopedEnvironment() {
        for (const std::string& name : names_) {
            const auto old = saved_.find(name);
            if (old != saved_.end())
                ::setenv(name.c_str(), old->second.c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::vector<std::string> names_;
    std::map<std::string, std::string> saved_;
};

// The variables the agent's switches read.
inline std::vector<std::string> switchVariables() {
    return {"XDG_CONFIG_DIRS", "BRENVO_DISABLE", "BRENVO_SYSTEM_ROOT",
            "FLATPAK_ID",      "SNAP",           "SNAP_NAME"};
}

} // namespace brenvo::test
