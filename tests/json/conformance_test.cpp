// Every file of the JSON test suite, parsed as a fragment: y_ files must parse, n_ files must
// fail (but two that this grammar accepts on purpose), i_ files may go either way.
#include "brenvo/JSON/XKJsonParser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace brenvo {
namespace {

namespace fs = std::filesystem;

const fs::path kSuiteDir = fs::path(BRENVO_TEST_DATA_DIR) / "jsontestsuite" / "test_parsing";

// Form feed is whitespace here, and a NUL byte ends the input.
const std::set<std::string> kAcceptedOnPurpose = {"n_structure_whitespace_formfeed.json",
                                                  "n_multidigit_number_then_00.json"};

struct SuiteFile {
    std::string fileName;
    std::string testName;
};

// A test name for a file name: letters and digits stay, punctuation is spelt out, so that
// names differing only in punctuation ("n_number_-1.0." and "n_number_-1.0") stay apart.
std::string testNameFor(const std::string& fileName) {
    const std::string stem = fileName.substr(0, fileName.size() - 5); // drop ".json"
    std::string name;
    for (unsigned char c : stem) {
        if (std::isalnum(c) || c == '_') {
            name.push_back(static_cast<char>(c));
            continue;
        }
        switch (c) {
        case '-':
            name += "Minus";
            break;
        case '+':
            name += "Plus";
            break;
        case '.':
            name += "Dot";
            break;
        case '#':
            name += "Hash";
            break;
        default: {
            char hex[8];
            std::snprintf(hex, sizeof hex, "X%02X", c);
            name += hex;
        }
        }
    }
    return name;
}

std::vector<SuiteFile> suiteFiles() {
    std::vector<SuiteFile> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(kSuiteDir, error))
        if (entry.path().extension() == ".json")
            files.push_back({entry.path().filename().string(), ""});
    std::sort(files.begin(), files.end(),
              [](const SuiteFile& a, const SuiteFile& b) { return a.fileName < b.fileName; });
    std::map<std::string, int> seen;
    for (SuiteFile& file : files) {
        file.testName = testNameFor(file.fileName);
        if (int count = seen[file.testName]++; count > 0)
            file.testName += "_" + std::to_string(count + 1);
    }
    return files;
}

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class Conformance : public testing::TestWithParam<SuiteFile> {};

TEST_P(Conformance, File) {
    const std::string& name = GetParam().fileName;
    const std::string bytes = readBytes(kSuiteDir / name);
    XKJsonParser parser;
    const std::optional<JsonValue> value = parser.fragmentWithString(bytes);
    // Whatever the outcome, exactly one of value and trace is present.
    EXPECT_NE(value.has_value(), parser.errorTrace().has_value());
    if (name.starts_with("y_") || kAcceptedOnPurpose.count(name)) {
        EXPECT_TRUE(value.has_value())
            << describeTrace(parser.errorTrace().value_or(std::vector<JsonErrorRef>{}));
    } else if (name.starts_with("n_")) {
        EXPECT_FALSE(value.has_value());
    }
}

INSTANTIATE_TEST_SUITE_P(Suite, Conformance, testing::ValuesIn(suiteFiles()),
                         [](const auto& param) { return param.param.testName; });

TEST(ConformanceSuite, CountsAndUniqueNames) {
    const std::vector<SuiteFile> files = suiteFiles();
    std::set<std::string> names;
    int yes = 0, yesAccepted = 0, no = 0, noRejected = 0, either = 0;
    for (const SuiteFile& file : files) {
        names.insert(file.testName);
        XKJsonParser parser;
        const bool accepted =
            parser.fragmentWithString(readBytes(kSuiteDir / file.fileName)).has_value();
        if (file.fileName.starts_with("y_")) {
            ++yes;
            yesAccepted += accepted;
        } else if (file.fileName.starts_with("n_")) {
            ++no;
            noRejected += !accepted;
        } else {
            ++either;
        }
    }
    EXPECT_EQ(names.size(), files.size());
    EXPECT_EQ(testNameFor("n_number_-1.0..json"), "n_number_Minus1Dot0Dot");
    EXPECT_EQ(yes, 95);
    EXPECT_EQ(yesAccepted, 95);
    EXPECT_EQ(no, 188);
    EXPECT_EQ(noRejected, 186);
    EXPECT_EQ(either, 35);
}

} // namespace
} // namespace brenvo
