// xkjson as a user runs it: a separate process on real files.
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/wait.h>

namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// Runs xkjson on a file holding `input`, named `name`, from within its folder.
Outcome xkjson(std::string_view input, const std::string& args = "",
           const std::string& name = "in.json") {
    brenvo::test::TempDir dir;
    dir.writeFile(name, input);
    const std::string command = "cd '" + dir.path().string() + "' && '" BRENVO_BIN_DIR "/xkjson' " +
                                args + " " + name + " >out 2>err";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, dir.readFile("out").value_or(""),
            dir.readFile("err").value_or("")};
}

// A message holds text of the input (a key): it is shown on one line, control characters
// escaped.
TEST(Xkjson, TraceLinesArePrintable) {
    const Outcome run = xkjson(R"({"a\u0000b\nc\u001b[2J":x})");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("3: Unrecognised leading character\n"
                           "3: Object value expected for key: a\\x00b\\nc\\x1B[2J\n"),
              std::string::npos)
        << run.err;
}

} // namespace
