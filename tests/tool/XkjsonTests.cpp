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

// Runs xkjson with `args` from within `dir`.
Outcome xkjsonIn(const brenvo::test::TempDir& dir, const std::string& args) {
    const std::string command =
        "cd '" + dir.path().string() + "' && '" BRENVO_BIN_DIR "/xkjson' " + args + " >out 2>err";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, dir.readFile("out").value_or(""),
            dir.readFile("err").value_or("")};
}

// Runs xkjson on a file holding `input`, named `name`, from within its folder.
Outcome xkjson(std::string_view input, const std::string& args = "",
               const std::string& name = "in.json") {
    brenvo::test::TempDir dir;
    dir.writeFile(name, input);
    return xkjsonIn(dir, args + " " + name);
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

// Several files are taken in turn, each as if given alone, whatever became of the one before;
// the highest status is the exit status.
TEST(Xkjson, TakesSeveralFilesInTurn) {
    brenvo::test::TempDir dir;
    dir.writeFile("good.json", "[1]");
    dir.writeFile("bad.json", "[x]");
    struct Case {
        std::string files;
        int status;
        std::string out;
        std::string errFirstLine;
    };
    const Case cases[] = {
        {"good.json good.json", 0, "[1]\n[1]\n", ""},
        {"bad.json good.json", 1, "[1]\n", "bad.json:1:2: Unrecognised leading character (byte 1)"},
        {"good.json missing.json bad.json good.json", 2, "[1]\n[1]\n",
         "xkjson: cannot open missing.json: No such file or directory"},
    };
    for (const Case& c : cases) {
        const Outcome run = xkjsonIn(dir, c.files);
        EXPECT_EQ(run.status, c.status) << c.files;
        EXPECT_EQ(run.out, c.out) << c.files;
        EXPECT_EQ(run.err.substr(0, run.err.find('\n')), c.errFirstLine) << c.files;
    }
    // A failure does not end the run: the bad file's trace follows the missing file's line.
    EXPECT_NE(xkjsonIn(dir, "missing.json bad.json").err.find("\nbad.json:1:2: "),
              std::string::npos);
}

} // namespace
