// A host whose Info.plist lives elsewhere gives the agent services that read it there.
#include "brenvo/Brenvo.h"
#include "brenvo/platform/RunLoop.h"
#include "brenvo/platform/Services.h"
#include "brenvo/platform/linux/InfoPlistBundle.h"
#include "brenvo/platform/linux/PlistUserDefaults.h"

int main() {
    using namespace brenvo::platform;
    Services& shared = Services::shared();
    InfoPlistBundle bundle("/etc/sample-notes/Info.plist", shared.log);
    PlistUserDefaults defaults(PlistUserDefaults::defaultPath(bundle), shared.log);
    Services services{bundle,
                      shared.frameworkBundle,
                      defaults,
                      shared.clock,
                      shared.runLoop,
                      shared.defaultCenter,
                      shared.log,
                      shared.http,
                      shared.systemVersion,
                      shared.workspace,
                      shared.windows};
    brenvo::Brenvo agent(services); // checks as the example above does
    RunLoop::currentRunLoop().run();
    return 0;
}
