// Sets the locale variables (LANGUAGE, LC_ALL, LC_MESSAGES, LANG) for one test: all are unset,
// then the given ones set; the previous values come back at the end of the scope.
#pragma once

#include <cstdlib>
#include <map>
#include <string>

namespace brenvo::test {

class ScopedLocale {
public:
    using Values = std::map<std::string, std::string>;

    explicit ScopedLocale(const Values& values) {
        for (const char* name : kNames) {
            if (const char* old = std::getenv(name))
                saved_[name] = old;
            ::unsetenv(name);
        }
        for (const auto& [name, value] : values)
            ::setenv(name.c_str(), value.c_str(), 1);
    }
    // Only LANG set.
    explicit ScopedLocale(const char* lang) : ScopedLocale(Values{{"LANG", lang}}) {}

    ~ScopedLocale() {
        for (const char* name : kNames) {
            auto it = saved_.find(name);
            if (it != saved_.end())
                ::setenv(name, it->second.c_str(), 1);
            else
                ::unsetenv(name);
        }
    }
    ScopedLocale(const ScopedLocale&) = delete;
    ScopedLocale& operator=(const ScopedLocale&) = delete;

private:
    static constexpr const char* kNames[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
    std::map<std::string, std::string> saved_;
};

} // namespace brenvo::test
