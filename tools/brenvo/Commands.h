// The commands of the brenvo tool. Each returns the process's exit status: 0 done, 1 failed,
// 2 a usage error.
#pragma once

#include "Arguments.h"

#include <string>

namespace brenvo::tool {

extern const char* const kDemoHelp;
extern const char* const kCheckHelp;
extern const char* const kRunHelp;
extern const char* const kServeStoreHelp;
extern const char* const kMakeLookupHelp;

int runDemo(const Arguments& arguments);
int runCheck(const Arguments& arguments);
int runRun(const Arguments& arguments);
int runServeStore(const Arguments& arguments);
int runMakeLookup(const Arguments& arguments);

// Prints "brenvo <command>: <message>" and where to find help; returns 2.
int usageError(const std::string& command, const std::string& message);
// Prints "brenvo <command>: <text>" on standard error.
void complain(const std::string& command, const std::string& text);

} // namespace brenvo::tool
