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

// A failure starts with where it happened: line and column (in characters) of the first error,
// its message and its byte offset; an empty input and a byte-order mark are named in words.
TEST(Xkjson, SaysWhereTheInputFailed) {
    struct Case {
        std::string input;
        std::string firstLine;
    };
    const Case cases[] = {
        {"[1,\n  2 x]", "in.json:2:5: Expected ',' or ']' after array element (byte 8)"},
        {"{\"caf\xC3\xA9\": \"\xE6\x97\xA5\\q\"}",
         "in.json:1:12: Illegal escape sequence '0x71' (byte 14)"},
        {"\n\n", "in.json:3:1: Unexpected end of string (byte 2)"},
        {std::string("[1,\0 2]", 7),
         "in.json:1:4: End of input while parsing array (byte 3, a NUL byte, which ends the "
         "text)"},
        {"", "in.json: the input is empty"},
        {"\xEF\xBB\xBF{}",
         "in.json:1:1: the input begins with a byte-order mark, which JSON text does not have"},
    };
    for (const Case& c : cases) {
        const Outcome run = xkjson(c.input);
        EXPECT_EQ(run.status, 1) << c.firstLine;
        EXPECT_EQ(run.err.substr(0, run.err.find('\n')), c.firstLine);
        EXPECT_EQ(run.out, "");
    }
    const Outcome fine = xkjson("[1, {\"a\" : null}]", "--pretty");
    EXPECT_EQ(fine.status, 0);
    EXPECT_EQ(fine.out, "[\n  1,\n  {\n    \"a\" : null\n  }\n]\n");
    EXPECT_EQ(fine.err, "");
}

} // namespace
