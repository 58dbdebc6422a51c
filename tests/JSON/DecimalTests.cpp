#include "brenvo/JSON/Decimal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>

namespace brenvo {
namespace {

Decimal parse(const char* text) {
    std::optional<Decimal> d = Decimal::fromString(text);
    EXPECT_TRUE(d.has_value()) << text;
    return d.value_or(Decimal());
}

TEST(Decimal, TextComesBackAsWritten) {
    for (const char* text :
         {"0", "-0", "0.0", "-0.0", "1.2345", "5e-324", "1.7976931348623157e308", "1E+2",
          "-12.50e-3", "0e5", "1e-0", "0.000000000000000000000000001", "9999999999999999999",
          "10000000000000000000", "-123456789012345678901234567890.0123456789e+123", "1e05",
          "1E-007", "1e999999999", "-1e-999999999"}) {
        EXPECT_EQ(parse(text).stringValue(), text);
        Decimal copy = parse(text);
        Decimal assigned;
        assigned = copy;
        EXPECT_EQ(assigned.stringValue(), text);
    }
}

TEST(Decimal, RejectsWhatIsNotANumber) {
    for (const char* text :
         {"", "-", "+1", "01", "-01", "1.", ".5", "1e", "1e+", " 1", "1 ", "1x", "0x10", "NaN",
          "Infinity", "1e1000000000", "1e-0001000000000", "1.5E+9999999999999999999"})
        EXPECT_FALSE(Decimal::fromString(text).has_value()) << text;
}

TEST(Decimal, NumericEquality) {
    struct Case {
        const char* a;
        const char* b;
        bool equal;
    };
    const Case cases[] = {
        {"1", "1.0", true},
        {"1.0", "1.00", true},
        {"1", "1e0", true},
        {"1", "0.1E1", true},
        {"100", "1E+2", true},
        {"0", "-0", true},
        {"0", "0.0e7", true},
        {"-12.50e-3", "-0.0125", true},
        {"12345678901234567890123", "1.2345678901234567890123e22", true},
        {"12345678901234567890123", "12345678901234567890124", false},
        {"1", "-1", false},
        {"1", "10", false},
        {"1e999999999", "1e999999998", false},
        {"10000000000000000000", "1e19", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parse(c.a) == parse(c.b), c.equal) << c.a << " vs " << c.b;
}

TEST(Decimal, ToDouble) {
    struct Case {
        const char* text;
        double value;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {"0.1", 0.1},
        {"-12.50e-3", -0.0125},
        {"5e-324", 5e-324},
        {"1.7976931348623157e308", 1.7976931348623157e308},
        {"123456789012345678901234567890", 1.2345678901234568e29},
        {"9007199254740993", 9007199254740992.0}, // rounds to even
        {"1e999999999", inf},
        {"-1e400", -inf},
        {"1e-999999999", 0.0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parse(c.text).doubleValue(), c.value) << c.text;
    EXPECT_TRUE(std::signbit(parse("-0.0").doubleValue()));
    EXPECT_TRUE(std::signbit(parse("-1e-999999999").doubleValue()));
}

TEST(Decimal, ToInt64) {
    struct Case {
        const char* text;
        std::optional<int64_t> value;
    };
    const Case cases[] = {
        {"0", 0},
        {"-0.0", 0},
        {"1.0e2", 100},
        {"120e-1", 12},
        {"9223372036854775807", std::numeric_limits<int64_t>::max()},
        {"-9223372036854775808", std::numeric_limits<int64_t>::min()},
        {"9223372036854775808", std::nullopt},
        {"-9223372036854775809", std::nullopt},
        {"1.5", std::nullopt},
        {"1e19", std::nullopt},
        {"1e999999999", std::nullopt},
        {"0.00000000000000000000000000000000000000000000000000000000000000000000000000001e77", 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parse(c.text).int64Value(), c.value) << c.text;
}

TEST(Decimal, FromIntegersAndDoubles) {
    EXPECT_EQ(Decimal(0).stringValue(), "0");
    EXPECT_EQ(Decimal(-42).stringValue(), "-42");
    EXPECT_EQ(Decimal(std::numeric_limits<int64_t>::min()).stringValue(), "-9223372036854775808");
    EXPECT_EQ(Decimal(std::numeric_limits<uint64_t>::max()).stringValue(), "18446744073709551615");
    EXPECT_EQ(Decimal(std::numeric_limits<uint64_t>::max()).doubleValue(), 18446744073709551615.0);

    struct Case {
        double value;
        const char* text;
    };
    const Case cases[] = {{0.1, "0.1"},       {-0.0, "-0"},   {1e300, "1e+300"},
                          {5e-324, "5e-324"}, {100.0, "100"}, {-2.5, "-2.5"}};
    for (const Case& c : cases) {
        std::optional<Decimal> d = Decimal::fromDouble(c.value);
        ASSERT_TRUE(d);
        EXPECT_EQ(d->stringValue(), c.text);
        EXPECT_EQ(d->doubleValue(), c.value);
    }
    EXPECT_FALSE(Decimal::fromDouble(std::nan("")));
    EXPECT_FALSE(Decimal::fromDouble(std::numeric_limits<double>::infinity()));
}

TEST(Decimal, HugeExponentsCostNothing) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 1000; ++i) {
        const Decimal big = parse("-1.5e999999999");
        const Decimal small = parse("1.5e-999999999");
        EXPECT_FALSE(big == small);
        EXPECT_EQ(big.doubleValue(), -std::numeric_limits<double>::infinity());
        EXPECT_FALSE(big.int64Value());
        EXPECT_EQ(small.stringValue(), "1.5e-999999999");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

} // namespace
} // namespace brenvo
