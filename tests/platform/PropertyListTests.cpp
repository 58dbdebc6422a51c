// Readings of property-list values and their text forms, and plist files in both formats.
#include "brenvo/platform/PropertyList.h"
#include "brenvo/platform/linux/PlistFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

using namespace brenvo::platform;

namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

TEST(PlistValue, IntegerReading) {
    struct Case {
        PlistValue value;
        std::optional<int64_t> expected;
    };
    const Case cases[] = {
        {3600, 3600},
        {"3600", 3600},
        {"  \t\n-17 apples", -17},
        {"+42", 42},
        {"no digits", 0},
        {"", 0},
        {"0x10", 0},
        {"99999999999999999999999", kMax},
        {"-99999999999999999999999", kMin},
        {"-9223372036854775808", kMin},
        {"9223372036854775807", kMax},
        {100.9, 100},
        {-50.5, -50},
        {1e300, kMax},
        {-1e300, kMin},
        {std::nan(""), 0},
        {true, 1},
        {false, 0},
        {Date{5}, std::nullopt},
        {PlistData{1}, std::nullopt},
        {PlistArray{1}, std::nullopt},
        {PlistDictionary{{"a", 1}}, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.value.integerValue(), c.expected) << c.value.description();
    }
}

TEST(PlistValue, BooleanReading) {
    struct Case {
        PlistValue value;
        bool expected;
    };
    const Case cases[] = {
        {true, true},       {false, false},   {1, true},
        {0, false},         {-3, true},       {0.0, false},
        {0.25, true},       {"YES", true},    {"yes", true},
        {"  True", true},   {"t", true},      {"NO", false},
        {"false", false},   {"1", true},      {"-0003", true},
        {"000", false},     {"0.5", false},   {"", false},
        {"enabled", false}, {Date{1}, false}, {PlistArray{true}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.value.boolValue(), c.expected) << c.value.description();
    }
}

TEST(PlistValue, Description) {
    struct Case {
        PlistValue value;
        std::string expected;
    };
    const Case cases[] = {
        {"text as it is %@", "text as it is %@"},
        {-12, "-12"},
        {0.1, "0.1"},
        {2.0, "2"},
        {true, "1"},
        {Date{1'796'692'209.5}, "2026-12-08 01:10:09 +0000"},
        {PlistData{0x0f, 0xbd, 0x77, 0x88, 0x01}, "<0fbd7788 01>"},
        {PlistArray{}, "()"},
        {PlistArray{1, "two words", "plain"}, "(\n    1,\n    \"two words\",\n    plain\n)"},
        {PlistDictionary{{"k", PlistValue(PlistArray{"a"})}}, "{\n    k = (\n        a\n    );\n}"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.value.description(), c.expected);
    }
}

TEST(PlistFile, BothFormatsReadBackTheSameValues) {
    brenvo::test::TempDir dir;
    const PlistValue value(PlistDictionary{
        {"CFBundleShortVersionString", "2.1"},
        {"BrenvoInterval", 3600},
        {"when", Date{1'800'000'000.0}},
        {"flag", false},
        {"ratio", -0.5},
        {"bytes", PlistData{0, 255}},
        {"list", PlistValue(PlistArray{PlistValue(PlistDictionary{}), "é"})},
    });
    for (PlistFormat format : {PlistFormat::XML, PlistFormat::Binary}) {
        const auto path = dir / (format == PlistFormat::XML ? "x.plist" : "b.plist");
        std::string error;
        ASSERT_TRUE(writePropertyListFile(value, path, format, &error)) << error;
        EXPECT_EQ(readPropertyListFile(path, &error), value) << error;
    }
    // Binary keeps fractions of a second; XML keeps whole seconds.
    const PlistValue fraction(Date{1'800'000'000.25});
    EXPECT_EQ(propertyListFromData(dataFromPropertyList(fraction, PlistFormat::Binary), nullptr),
              fraction);
    EXPECT_EQ(propertyListFromData(dataFromPropertyList(fraction, PlistFormat::XML), nullptr),
              PlistValue(Date{1'800'000'000.0}));
}

// An XML file keeps any date of the years 1 to 9999 to the second, far beyond the 32-bit
// seconds from 2001 (1933 to 2069) of the binary form; a NUL character, which no file can hold,
// is stored as U+FFFD.
TEST(PlistFile, XmlKeepsFarDatesAndTextsWithoutNul) {
    const struct {
        double seconds;
        const char* text;
    } dates[] = {
        {7'258'118'400.0, "<date>2200-01-01T00:00:00Z</date>"},
        {3'155'760'000.0, "<date>2070-01-01T00:00:00Z</date>"},
        {-2'208'988'800.0, "<date>1900-01-01T00:00:00Z</date>"},
        {-1.0, "<date>1969-12-31T23:59:59Z</date>"},
        {253'402'300'799.0, "<date>9999-12-31T23:59:59Z</date>"},
    };
    for (const auto& date : dates) {
        const PlistValue value(PlistDictionary{{"BrenvoLastCheck", Date{date.seconds}}});
        const std::string xml = dataFromPropertyList(value, PlistFormat::XML);
        EXPECT_NE(xml.find(date.text), std::string::npos) << xml;
        EXPECT_EQ(propertyListFromData(xml, nullptr), value) << date.text;
    }
    const PlistValue withNul(PlistDictionary{{"BrenvoSkipVersion", std::string("2.0\0x", 5)}});
    EXPECT_EQ(propertyListFromData(dataFromPropertyList(withNul, PlistFormat::XML), nullptr),
              PlistValue(PlistDictionary{{"BrenvoSkipVersion", "2.0\xEF\xBF\xBDx"}}));
}

TEST(PlistFile, RefusesWhatIsNotAPropertyList) {
    std::string deep = "<plist version=\"1.0\">";
    for (size_t i = 0; i <= kMaxPropertyListDepth + 1; ++i) {
        deep += "<array>";
    }
    for (size_t i = 0; i <= kMaxPropertyListDepth + 1; ++i) {
        deep += "</array>";
    }
    deep += "</plist>";
    struct Case {
        std::string bytes;
        const char* error;
    };
    const Case cases[] = {
        {"", "the file is empty"},
        {"hello", "not a property list"},
        {"bplist00", "not a property list"},
        {deep, "nested too deeply"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_EQ(propertyListFromData(c.bytes, &error), std::nullopt);
        EXPECT_EQ(error, c.error);
    }
    std::string error;
    EXPECT_EQ(readPropertyListFile("/nonexistent/Info.plist", &error), std::nullopt);
    EXPECT_EQ(error, "No such file or directory");
}

// A binary list holding {"a": n} with n the signed 128-bit number high:low, written in 16 bytes
// as the binary form writes an unsigned number past INT64_MAX.
std::string wideInteger(uint64_t high, uint64_t low) {
    std::string bytes("bplist00\xD1\x01\x02\x51"
                      "a"
                      "\x14");
    const auto bigEndian = [&bytes](uint64_t value) {
        for (int shift = 56; shift >= 0; shift -= 8)
            bytes += static_cast<char>(value >> shift);
    };
    bigEndian(high);
    bigEndian(low);
    bytes += "\x08\x0B\x0D"; // the objects' offsets, at 30
    bytes.append(6, '\0');
    bytes += "\x01\x01"; // one byte per offset and per reference
    bigEndian(3);        // objects
    bigEndian(0);        // the top object
    bigEndian(30);       // where the offsets are
    return bytes;
}

// Integers past the signed 64-bit range read as its nearest end, never wrapped: an unsigned
// 2^64 - 1 is no -1, and a 20-digit number no small one.
TEST(PlistFile, IntegersPast64BitsSaturate) {
    const std::pair<const char*, int64_t> texts[] = {
        {"9223372036854775807", kMax},  {"9223372036854775808", kMax},
        {"18446744073709551615", kMax}, {"99999999999999999999", kMax},
        {"0x8000000000000000", kMax},   {"-1", -1},
        {"-9223372036854775809", kMin}, {"-99999999999999999999", kMin},
    };
    for (const auto& [text, expected] : texts) {
        const std::string xml = "<plist version=\"1.0\"><dict><key>a</key><integer>" +
                                std::string(text) + "</integer><key>b</key><integer>7</integer>" +
                                "</dict></plist>";
        EXPECT_EQ(propertyListFromData(xml, nullptr),
                  PlistValue(PlistDictionary{{"a", expected}, {"b", 7}}))
            << text;
    }
    const struct {
        uint64_t high, low;
        int64_t expected;
    } binaries[] = {
        {0, uint64_t{1} << 63, kMax}, {0, UINT64_MAX, kMax}, {1, 0, kMax},
        {UINT64_MAX, UINT64_MAX, -1}, {UINT64_MAX, 0, kMin}, {uint64_t{1} << 63, 0, kMin},
    };
    for (const auto& b : binaries) {
        EXPECT_EQ(propertyListFromData(wideInteger(b.high, b.low), nullptr),
                  PlistValue(PlistDictionary{{"a", b.expected}}))
            << b.high << ":" << b.low;
    }
}

// Texts holding NUL would abort the process inside the plist library; malformed UTF-8 would
// make a file that cannot be read again.
TEST(PlistFile, TextsWithNulAreRefusedAndMalformedTextsRepaired) {
    const std::string binary = dataFromPropertyList(
        PlistValue(PlistDictionary{{"key", "xay"}, {"kez", "other"}}), PlistFormat::Binary);
    const size_t at = binary.find("xay");
    ASSERT_NE(at, std::string::npos);
    const size_t keyAt = binary.find("kez");
    ASSERT_NE(keyAt, std::string::npos);
    struct Case {
        size_t offset;
        char byte;
        std::optional<PlistValue> expected;
    };
    const Case cases[] = {
        {at + 1, '\0', std::nullopt},
        {keyAt + 1, '\0', std::nullopt},
        {at + 1, '\xEB', PlistValue(PlistDictionary{{"key", "x\xEF\xBF\xBDy"}, {"kez", "other"}})},
        {keyAt + 2, '\xFF',
         PlistValue(PlistDictionary{{"key", "xay"}, {"ke\xEF\xBF\xBD", "other"}})},
    };
    for (const Case& c : cases) {
        std::string bytes = binary;
        bytes[c.offset] = c.byte;
        std::string error;
        const auto value = propertyListFromData(bytes, &error);
        EXPECT_EQ(value, c.expected) << error;
        if (value) {
            EXPECT_EQ(propertyListFromData(dataFromPropertyList(*value, PlistFormat::XML), nullptr),
                      value);
        } else {
            EXPECT_EQ(error, "not a property list");
        }
    }
    std::string error;
    EXPECT_EQ(propertyListFromData(std::string("<plist><string>a\0b</string></plist>", 34), &error),
              std::nullopt);
    EXPECT_EQ(error, "not a property list");
}

} // namespace
