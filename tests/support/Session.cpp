#include "support/Session.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace brenvo::test {

const std::string& ownSession() {
    // Never destroyed: the handler that removes the folder at exit still reads it.
    static const std::string* const runtime = new std::string([] {
        const char* base = std::getenv("TMPDIR");
        std::string folder = (base != nullptr && base[0] == '/') ? base : "/tmp";
        folder += "/brenvo-session-XXXXXX";
        if (::mkdtemp(folder.data()) == nullptr) {
            folder.clear();
            ::unsetenv("XDG_RUNTIME_DIR");
        } else {
            ::setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
            std::atexit([] {
                std::error_code error;
                std::filesystem::remove_all(ownSession(), error);
            });
        }
        ::setenv("DBUS_SESSION_BUS_ADDRESS", kNoSessionBus, 1);
        return folder;
    }());
    return *runtime;
}

namespace {

[[maybe_unused]] const bool kSessionBeforeMain = !ownSession().empty();

} // namespace

} // namespace brenvo::test
