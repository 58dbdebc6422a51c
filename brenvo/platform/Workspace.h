// Hands a URL to the system (the store application, the browser). Never blocks the caller.
#pragma once

#include "brenvo/Export.h"

#include <string_view>

namespace brenvo::platform {

class BRENVO_EXPORT Workspace {
public:
    virtual ~Workspace();
    // True when the URL was handed on; whether anything opened is not known.
    virtual bool openURL(std::string_view url) = 0;
};

} // namespace brenvo::platform
