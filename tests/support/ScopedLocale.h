// Sets the locale variables (LANGUAGE, LC_ALL, LC_MESSAGES, LANG) for one test: all are unset,
// then the given ones set; the previous values come back at the end of the scope.
#pragma once

#include "support/ScopedEnvironment.h"

namespace brenvo::test {

class ScopedLocale : public ScopedEnvironment {
public:
    explicit ScopedLocale(const Values& values)
        : ScopedEnvironment({"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}, values) {}
    // Only LANG set.
    explicit ScopedLocale(const char* lang) : ScopedLocale(Values{{"LANG", lang}}) {}
};

} // namespace brenvo::test
