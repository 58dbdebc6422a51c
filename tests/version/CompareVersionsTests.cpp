// Version ordering: the worked examples in both directions, the cases the header decides, and
// the C symbol's handling of null pointers.
#include "brenvo/compareVersions.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

namespace {

using Text = std::optional<std::string_view>;

struct Ordering {
    Text first;
    Text second;
    int expected;
};

std::string show(Text text) {
    return text ? "\"" + std::string(*text) + "\"" : "(absent)";
}

const Ordering kOrderings[] = {
    // Worked examples.
    {"1.2", "1.10", -1},
    {"1.10", "1.9", 1},
    {"10", "9", 1},
    {"1.0", "1", 0},
    {"1", "1.0.1", -1},
    {"1.2.3", "1.2", 1},
    {"1.2", "1.2.0.0", 0},
    {"1.9.9", "1.10", -1},
    {"2.0b1", "2.0", 1},
    {"2.0b2", "2.0b10", -1},
    {"1.2.", "1.2", -1},
    {"1..2", "1.0.2", -1},
    {"", "0", -1},
    {std::nullopt, "0", 0},
    {std::nullopt, "1.2", -1},
    {std::nullopt, std::nullopt, 0},
    {std::nullopt, "", 1},
    {"1.2", "1.2", 0},
    {"1.2.0", "1.2", 0},
    {"1.9", "2.0", -1},
    // Nothing is trimmed and nothing is a sign.
    {" 1", "1", -1},
    {"1 ", "1", 1},
    {"1-2", "1+2", 1},
    {"-1", "1", -1},
    // Case-sensitive; other characters by their bytes, digits by value.
    {"1.0B", "1.0a", -1},
    {"1.0a", "1.0b", -1},
    {"1a", "1-", 1},
    {"1-", "10", -1},
    {"a", "1", 1},
    // Leading zeros do not change a value; the walk goes on after the runs.
    {"01", "1", 0},
    {"1.01", "1.1", 0},
    {"007b", "7a", 1},
    {"0", "", 1},
    {"00", "0", 0},
    // Runs beyond 64 bits compare exactly.
    {"18446744073709551616", "18446744073709551615", 1},
    {"99999999999999999999999999", "100000000000000000000000000", -1},
    {"0000000000000000000000000000012", "12", 0},
    {"1.123456789012345678901234567890", "1.123456789012345678901234567891", -1},
    // Outside ASCII: bytes, which is code point order; no normalisation.
    {"1.\xC3\xA9", "1.e\xCC\x81", 1},
    {"1.\xE2\x82\xAC", "1.\xF0\x9F\x98\x80", -1},
    {"\xFF", "\x7F", 1},
};

class CompareVersionsOrder : public ::testing::TestWithParam<Ordering> {};

TEST_P(CompareVersionsOrder, BothDirections) {
    const Ordering& row = GetParam();
    SCOPED_TRACE(show(row.first) + " vs " + show(row.second));
    EXPECT_EQ(brenvo::compareVersions(row.first, row.second), row.expected);
    EXPECT_EQ(brenvo::compareVersions(row.second, row.first), -row.expected);
    EXPECT_EQ(brenvo::compareVersions(row.first, row.first), 0);

    // The plain C symbol: a null pointer is absent.
    const std::string a(row.first.value_or(""));
    const std::string b(row.second.value_or(""));
    EXPECT_EQ(::compareVersions(row.first ? a.c_str() : nullptr, row.second ? b.c_str() : nullptr),
              row.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, CompareVersionsOrder, ::testing::ValuesIn(kOrderings));

TEST(CompareVersions, OrderIsTransitiveAcrossMixedForms) {
    // A chain that sorts by value, suffix and padding at once.
    const char* chain[] = {"", "0.9", "0.10", "1", "1.0.1", "1.2", "1.2b", "1.10", "2.0", "10"};
    for (size_t i = 0; i < std::size(chain); ++i)
        for (size_t j = 0; j < std::size(chain); ++j) {
            const int expected = i < j ? -1 : (i > j ? 1 : 0);
            EXPECT_EQ(brenvo::compareVersions(chain[i], chain[j]), expected)
                << chain[i] << " vs " << chain[j];
        }
}

} // namespace
