// brenvo: see an application's update check at work, from the command line.
#include "Arguments.h"
#include "Commands.h"
#include "Signals.h"

#include "brenvo/compareVersions.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using brenvo::tool::Arguments;

constexpr const char* kUsage = R"(usage: brenvo <command> [options]
   or: brenvo --help | --version

Shows an application's update check at work: runs Brenvo's update agent as the application
would, serves a stand-in for the store on 127.0.0.1, and compares versions.

Commands:
  demo          show the update window of a sample application, served by a local store
  check         run one update check for an application, as the application would
  run           run the update agent for an application until interrupted
  serve-store   answer store lookups on 127.0.0.1 with a version of your choosing
  make-lookup   write the lookup file an application can publish on its own web site
  compare       compare two version strings

Run "brenvo <command> --help" for the options of a command.

Exit status: 0 done, 1 failed, 2 a usage error; a command ended by SIGINT or SIGTERM exits
with 130 or 143 once the agent has shut down.
)";

constexpr const char* kCompareHelp = R"(usage: brenvo compare A B

Prints -1 when version A is older than B, 0 when they are the same and 1 when A is newer.
Components split at "." and compare by numeric value ("1.10" is newer than "1.9"); missing
components count as 0 ("1.0" equals "1").
)";

int runCompare(const Arguments& arguments) {
    if (arguments.positional.size() != 2)
        return brenvo::tool::usageError("compare", "expected two versions");
    std::printf("%d\n", brenvo::compareVersions(std::string_view(arguments.positional[0]),
                                                std::string_view(arguments.positional[1])));
    return 0;
}

struct Command {
    const char* name;
    std::set<std::string> valueOptions;
    std::set<std::string> flagOptions;
    const char* help;
    std::function<int(const Arguments&)> run;
    std::map<char, std::string> shortNames = {};
};

int run(int argc, char** argv) {
    using namespace brenvo::tool;
    const std::vector<Command> commands = {
        {"demo", {"answer", "window"}, {}, kDemoHelp, runDemo},
        {"check",
         {"info-plist", "defaults", "os-version", "answer", "window"},
         {"user"},
         kCheckHelp,
         runCheck},
        {"run", {"info-plist", "defaults", "window"}, {"debug"}, kRunHelp, runRun},
        {"serve-store",
         {"port", "version", "notes", "reply", "name"},
         {},
         kServeStoreHelp,
         runServeStore},
        {"make-lookup",
         {"version", "notes", "page", "minimum-os", "release-date", "output"},
         {},
         kMakeLookupHelp,
         runMakeLookup,
         {{'o', "output"}}},
        {"compare", {}, {}, kCompareHelp, runCompare},
    };

    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string name = argv[1];
    if (name == "-h" || name == "--help" || name == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (name == "--version") {
        std::printf("brenvo %s\n", BRENVO_TOOL_VERSION);
        return 0;
    }
    for (const Command& command : commands) {
        if (name != command.name)
            continue;
        std::string error;
        auto arguments =
            parseArguments(std::vector<std::string>(argv + 2, argv + argc), command.valueOptions,
                           command.flagOptions, command.shortNames, error);
        if (!arguments)
            return usageError(command.name, error);
        if (arguments->help) {
            std::fputs(command.help, stdout);
            return 0;
        }
        const int status = command.run(*arguments);
        // Ended by a signal: the command has returned, so the agent has shut down in order.
        if (const int signal = receivedSignal())
            return 128 + signal;
        return status;
    }
    std::fprintf(stderr, "brenvo: unknown command \"%s\"\n\n%s", name.c_str(), kUsage);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    const int status = run(argc, argv);
    // A full disk or a closed pipe shows here, once, rather than at each line written.
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fprintf(stderr, "brenvo: cannot write standard output: %s\n", std::strerror(errno));
        return status == 0 ? 1 : status;
    }
    return status;
}
