// A host application's whole integration: keep one agent and run the main loop.
#include "brenvo/Brenvo.h"
#include "brenvo/platform/RunLoop.h"

int main() {
    brenvo::Brenvo agent; // reads the Info.plist beside the executable
    // Checks once per "BrenvoInterval" and shows the release window when the store is newer.
    brenvo::platform::RunLoop::currentRunLoop().run();
    return 0;
}
