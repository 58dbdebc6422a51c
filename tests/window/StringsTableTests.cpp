// The .strings reader and the lookup of localised texts by the user's languages.
#include "brenvo/platform/Log.h"
#include "brenvo/platform/linux/StringsTable.h"
#include "support/CapturingLog.h"
#include "support/ScopedLocale.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using brenvo::platform::localizationCandidates;
using brenvo::platform::localizedStringFromTable;
using brenvo::platform::parseStringsFile;
using Entries = std::map<std::string, std::string, std::less<>>;

namespace {

using brenvo::test::ScopedLocale;

std::vector<uint8_t> bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

std::vector<uint8_t> utf16(std::u16string_view text, bool bigEndian) {
    std::vector<uint8_t> out =
        bigEndian ? std::vector<uint8_t>{0xFE, 0xFF} : std::vector<uint8_t>{0xFF, 0xFE};
    for (char16_t unit : text) {
        uint8_t hi = static_cast<uint8_t>(unit >> 8), lo = static_cast<uint8_t>(unit & 0xFF);
        out.push_back(bigEndian ? hi : lo);
        out.push_back(bigEndian ? lo : hi);
    }
    return out;
}

struct ParseCase {
    const char* name;
    std::vector<uint8_t> bytes;
    std::optional<Entries> expected; // nullopt: malformed
    const char* error = "";          // the message expected for malformed input
};

class ParseStrings : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseStrings, GivesEntriesOrNamesTheFault) {
    const ParseCase& c = GetParam();
    std::string error;
    auto entries = parseStringsFile(c.bytes, &error);
    if (c.expected) {
        ASSERT_TRUE(entries) << error;
        EXPECT_EQ(*entries, *c.expected);
    } else {
        EXPECT_FALSE(entries);
        EXPECT_EQ(error, c.error);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, ParseStrings,
    testing::Values(
        ParseCase{"Utf8WithComments",
                  bytesOf("/* Release window\n   (German) */\n"
                          "\"Software Update\" = \"Softwareaktualisierung\"; // title\n"
                          "\"Release Notes:\"=\"Versionshinweise:\";"),
                  Entries{{"Software Update", "Softwareaktualisierung"},
                          {"Release Notes:", "Versionshinweise:"}}},
        ParseCase{"Utf8ByteOrderMark", bytesOf("\xEF\xBB\xBF\"a\" = \"\xC3\xA4\";"),
                  Entries{{"a", "\xC3\xA4"}}},
        ParseCase{"Utf16LittleEndian", utf16(u"\"k\" = \"\u00fcber \U0001F600\";", false),
                  Entries{{"k", "\xC3\xBC"
                                "ber \xF0\x9F\x98\x80"}}},
        ParseCase{"Utf16BigEndian", utf16(u"/* c */ \"k\" = \"v\";", true), Entries{{"k", "v"}}},
        ParseCase{"Escapes", bytesOf(R"("q\"b\\s" = "1\n2\t3\r\U00e4\u20AC\UD83D\uDE00\x";)"),
                  Entries{{"q\"b\\s", "1\n2\t3\r\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80x"}}},
        ParseCase{"BareWordsAndKeyAlone", bytesOf("Title = Brenvo.App-1; \"same\";"),
                  Entries{{"Title", "Brenvo.App-1"}, {"same", "same"}}},
        ParseCase{"LaterDuplicateWins", bytesOf("\"a\" = \"1\"; \"a\" = \"2\";"),
                  Entries{{"a", "2"}}},
        ParseCase{"Empty", bytesOf(" \n// nothing\n"), Entries{}},
        ParseCase{"MissingSemicolon", bytesOf("\"a\" = \"1\";\n\"b\" = \"2\""), std::nullopt,
                  "line 2: missing ';' after entry"},
        ParseCase{"UnterminatedString", bytesOf("\n\"a\" = \"1;\n"), std::nullopt,
                  "line 2: unterminated string"},
        ParseCase{"UnterminatedComment", bytesOf("\"a\" = \"1\"; /* open"), std::nullopt,
                  "line 1: unterminated comment"},
        ParseCase{"MissingValue", bytesOf("\"a\" = ;"), std::nullopt,
                  "line 1: expected a value after '='"},
        ParseCase{"LoneSurrogateEscape", bytesOf(R"("a" = "\UD83D";)"), std::nullopt,
                  "line 1: unpaired surrogate in \\U escape"},
        ParseCase{"ShortEscape", bytesOf(R"("a" = "\U12";)"), std::nullopt,
                  "line 1: \\U needs four hex digits"},
        ParseCase{"InvalidUtf8", bytesOf("\"a\" = \"\xC0\xAF\";"), std::nullopt,
                  "line 1: invalid UTF-8"},
        ParseCase{"Utf16OddLength", std::vector<uint8_t>{0xFF, 0xFE, 0x22}, std::nullopt,
                  "line 1: UTF-16 text of odd length"},
        ParseCase{"Utf16LoneSurrogate", utf16(u"\"a\" = \"\xD800\";", false), std::nullopt,
                  "line 1: unpaired UTF-16 surrogate"}),
    [](const auto& param) { return std::string(param.param.name); });

class LocalizedLookup : public testing::Test {
protected:
    void table(const std::string& lang, std::string_view text) {
        dir_.writeFile(lang + ".lproj/Brenvo.strings", text);
    }
    std::string lookup(std::string_view key, std::string_view value = "") {
        return localizedStringFromTable(dir_.path(), "Brenvo", key, value, &log_);
    }

    brenvo::test::TempDir dir_;
    brenvo::test::CapturingLog log_;
};

TEST_F(LocalizedLookup, FollowsTheUsersLanguagesDownToEnglish) {
    table("de", R"("Software Update" = "Softwareaktualisierung"; "Skip" = "Überspringen";)");
    table("de_AT", R"("Skip" = "Auslassen";)");
    table("en", R"("Release Notes:" = "What's new:";)");
    struct Case {
        std::map<std::string, std::string> env;
        const char* key;
        const char* expected;
    } cases[] = {
        {{{"LANG", "de_DE.UTF-8"}}, "Software Update", "Softwareaktualisierung"},
        {{{"LC_ALL", "de_AT.UTF-8@euro"}}, "Skip", "Auslassen"},                    // region first
        {{{"LC_ALL", "de_AT.UTF-8"}}, "Software Update", "Softwareaktualisierung"}, // then de
        {{{"LANGUAGE", "fr:de"}, {"LANG", "C"}}, "Skip", "Überspringen"},           // list order
        {{{"LC_MESSAGES", "de_CH"}, {"LANG", "fr_FR"}}, "Skip", "Überspringen"},
        {{{"LANG", "de_DE"}}, "Release Notes:", "What's new:"},  // en catches
        {{{"LANG", "C"}}, "Software Update", "Software Update"}, // key itself
        {{{"LANG", "../../etc"}}, "Skip", "Skip"},               // no path games
    };
    for (const auto& c : cases) {
        ScopedLocale locale(c.env);
        EXPECT_EQ(lookup(c.key), c.expected) << c.key;
    }
    EXPECT_TRUE(log_.lines().empty());
}

TEST_F(LocalizedLookup, MissingTableGivesValueOrKey) {
    ScopedLocale locale(ScopedLocale::Values{{"LANG", "de_DE.UTF-8"}});
    EXPECT_EQ(lookup("Skip This Version"), "Skip This Version");
    EXPECT_EQ(lookup("Skip This Version", "Skip"), "Skip");
    EXPECT_EQ(localizedStringFromTable(dir_.path(), "../Brenvo", "k", "", &log_), "k");
    EXPECT_TRUE(log_.lines().empty());
}

TEST_F(LocalizedLookup, MalformedTableIsLoggedOnceAndSkipped) {
    ScopedLocale locale(ScopedLocale::Values{{"LANG", "de_DE.UTF-8"}});
    table("de", "\"Skip\" = \"Überspringen\"\n\"x\" = \"y\";");
    table("en", R"("Skip" = "Skip it";)");
    EXPECT_EQ(lookup("Skip"), "Skip it");
    ASSERT_EQ(log_.lines().size(), 1u);
    EXPECT_EQ(log_.lines()[0], "Brenvo: Cannot read strings table " +
                                   (dir_ / "de.lproj" / "Brenvo.strings").string() +
                                   " (line 2: missing ';' after entry); using the untranslated "
                                   "texts.");
}

TEST(LocalizationCandidates, RegionVariantsThenLanguageThenEnglish) {
    EXPECT_EQ(localizationCandidates({"de_AT", "fr", "de", "en"}),
              (std::vector<std::string>{"de_AT", "de-AT", "de", "fr", "en"}));
    EXPECT_EQ(localizationCandidates({"en_GB", "en"}),
              (std::vector<std::string>{"en_GB", "en-GB", "en"}));
}

} // namespace
