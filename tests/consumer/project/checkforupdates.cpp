// A host with "Check for Updates…": the agent tells it how each check ended.
#include "brenvo/Brenvo.h"
#include "brenvo/platform/RunLoop.h"

#include <cstdio>

int main() {
    brenvo::Brenvo agent;
    agent.setOutcomeObserver([](const brenvo::CheckOutcome& outcome) {
        // Heard after every check, before any release window shows.
        if (outcome.userInitiated && outcome.kind == brenvo::CheckOutcome::Kind::UpToDate)
            std::puts("You are up to date.");
        std::printf("%s\n", brenvo::describeOutcome(outcome).c_str());
    });
    agent.checkForUpdates(); // what the menu item does: shows even a version skipped earlier
    brenvo::platform::RunLoop::currentRunLoop().run();
    return 0;
}
