// Parse, then write: the text comes back byte for byte for the round-trip files, and every
// number of the benchmark corpora keeps its exact text.
#include "brenvo/JSON/XKJSON.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace brenvo {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(RoundTrip, EveryFileComesBackByteForByte) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(fs::path(BRENVO_TEST_DATA_DIR) / "roundtrip"))
        if (entry.path().extension() == ".json")
            files.push_back(entry.path());
    ASSERT_EQ(files.size(), 27u);
    for (const auto& file : files) {
        const std::string text = readFile(file);
        XKJSON json;
        JsonErrorRef error;
        const auto value = json.objectWithString(text, &error);
        ASSERT_TRUE(value) << file << ": " << (error ? error->message() : "");
        EXPECT_EQ(json.utf8StringWithObject(*value, false, &error), text) << file;
        EXPECT_EQ(json.stringWithObject(*value, &error), toUtf16(text)) << file;
    }
}

// The number tokens of a JSON text (outside strings), sorted.
std::vector<std::string> numbersOf(const std::string& text) {
    std::vector<std::string> numbers;
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == '"') {
            for (++i; text[i] != '"'; ++i)
                if (text[i] == '\\')
                    ++i;
            ++i;
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            const std::size_t start = i;
            while (i < text.size() &&
                   std::string_view("0123456789+-.eE").find(text[i]) != std::string_view::npos)
                ++i;
            numbers.push_back(text.substr(start, i - start));
        } else {
            ++i;
        }
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

TEST(RoundTrip, CorpusNumbersKeepTheirText) {
    const fs::path corpus = fs::path(BRENVO_TEST_DATA_DIR) / ".." / ".." / "bench" / "data";
    for (const char* name : {"canada.json", "citm_catalog.json", "twitter.json"}) {
        const std::string text = readFile(corpus / name);
        ASSERT_FALSE(text.empty()) << name;
        XKJSON json;
        JsonErrorRef error;
        const auto value = json.objectWithString(text, &error);
        ASSERT_TRUE(value) << name;
        json.setSortKeys(true);
        const auto compact = json.utf8StringWithObject(*value, false, &error);
        ASSERT_TRUE(compact) << name;
        EXPECT_EQ(numbersOf(*compact), numbersOf(text)) << name;
        EXPECT_EQ(json.objectWithString(*compact, &error), value) << name;
        EXPECT_EQ(
            json.utf8StringWithObject(*json.objectWithString(*compact, &error), false, &error),
            compact)
            << name;
        json.setHumanReadable(true);
        const auto pretty = json.stringWithObject(*value, &error);
        ASSERT_TRUE(pretty) << name;
        EXPECT_EQ(json.objectWithString(*pretty, &error), value) << name;
    }
}

} // namespace
} // namespace brenvo
