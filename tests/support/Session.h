// The desktop session of a test program that starts a toolkit or a bus: its own, never the
// machine's. The program gets a runtime folder of its own (XDG_RUNTIME_DIR, mode 0700, removed
// when it ends) and no session bus: DBUS_SESSION_BUS_ADDRESS is kNoSessionBus, an address that
// neither libdbus nor GDBus connects to, and for which neither launches a bus of its own. A test
// that uses a bus starts one (PrivateBus), points the variable at it and puts kNoSessionBus back.
//
// The Xvfb and PrivateBus helpers call ownSession(), which links this file into their programs;
// it then also runs before main(), so that every test of such a program, whatever it starts,
// runs in this session.
#pragma once

#include <string>

namespace brenvo::test {

inline constexpr const char* kNoSessionBus = "disabled:";

// Sets the session up once per process; the runtime folder (empty if none could be made).
const std::string& ownSession();

} // namespace brenvo::test
