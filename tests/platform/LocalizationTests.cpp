// The framework's translations of the window's texts, used behind the host's own tables and only
// for languages the host is localised into.
#include "brenvo/platform/linux/FrameworkBundle.h"
#include "brenvo/platform/linux/InfoPlistBundle.h"
#include "brenvo/platform/linux/PlistFile.h"
#include "brenvo/platform/linux/StringsTable.h"
#include "support/CapturingLog.h"
#include "support/ScopedLocale.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>

namespace {

using namespace brenvo::platform;
using brenvo::test::CapturingLog;
using brenvo::test::ScopedLocale;
using brenvo::test::TempDir;

const char* const kKeys[] = {
    "Software Update",
    "A new Version of %@ is available!",
    "%@ %@ is now available - you have %@. Would you like to open App Store for Update now?",
    "Release Notes:",
    "Open App Store For Update",
    "Skip This Version",
    "OK",
    "Your version is current",
    "%@ %@ is the newest version in the App Store.",
    "The check for updates did not succeed",
    "There is no connection to the App Store.",
    "The App Store did not answer.",
    "The App Store's reply could not be used.",
    "The App Store is busy. Please try again later.",
    "Checks for updates are turned off on this computer.",
    "The updates of this application come from its package manager.",
    "This application does not say where to look for updates.",
};

// The arguments a format takes, in the order it shows them: "%@" takes the next one, "%n$@" the
// n-th; nullopt for any other "%" sequence.
std::optional<std::vector<int>> placeholders(const std::string& format) {
    std::vector<int> order;
    int next = 1;
    static const std::regex placeholder(R"(%(?:([1-9])\$)?@|%%|%)");
    for (auto it = std::sregex_iterator(format.begin(), format.end(), placeholder);
         it != std::sregex_iterator(); ++it) {
        const std::string found = it->str();
        if (found == "%%")
            continue;
        if (found == "%")
            return std::nullopt;
        order.push_back((*it)[1].matched ? std::stoi((*it)[1].str()) : next++);
    }
    return order;
}

TEST(FrameworkTranslations, EveryTableHasEveryTextWithItsArguments) {
    const std::filesystem::path resources = FrameworkBundle::resourcesPath();
    ASSERT_FALSE(resources.empty());
    std::set<std::string> languages;
    for (const auto& entry : std::filesystem::directory_iterator(resources)) {
        const std::string language = entry.path().stem().string();
        languages.insert(language);
        SCOPED_TRACE(language);
        std::ifstream in(entry.path() / "Brenvo.strings", std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
        std::string error;
        const auto table = parseStringsFile(bytes, &error);
        ASSERT_TRUE(table) << error;
        EXPECT_EQ(table->size(), std::size(kKeys));
        for (const char* key : kKeys) {
            const auto found = table->find(key);
            ASSERT_NE(found, table->end()) << key;
            if (std::string_view(key) != "OK") { // the same word in many languages
                EXPECT_NE(found->second, key);
            }
            // Every argument shown once, whatever the order the language needs.
            auto wanted = placeholders(key);
            auto given = placeholders(found->second);
            ASSERT_TRUE(given) << found->second;
            std::sort(given->begin(), given->end());
            std::sort(wanted->begin(), wanted->end());
            EXPECT_EQ(*given, *wanted) << found->second;
        }
    }
    for (const char* language :
         {"de", "fr", "es", "it", "pt-BR", "nl", "ja", "zh-Hans", "ko", "ru"})
        EXPECT_TRUE(languages.count(language)) << language;
}

TEST(FrameworkTranslations, HostTableThenFrameworkForItsLanguagesThenEnglish) {
    struct Row {
        const char* what;
        ScopedLocale::Values locale;
        std::vector<std::string> folders; // the host's "<lang>.lproj" folders
        PlistArray localizations;         // its CFBundleLocalizations
        const char* key;
        const char* expected;
    };
    const std::vector<Row> rows = {
        {"the host's own entry wins",
         {{"LANG", "de_DE.UTF-8"}},
         {"de"},
         {},
         "Skip This Version",
         "Nicht jetzt"},
        {"a key the host's table lacks",
         {{"LANG", "de_DE.UTF-8"}},
         {"de"},
         {},
         "Software Update",
         "Softwareaktualisierung"},
        {"an unlocalised host stays English",
         {{"LANG", "de_DE.UTF-8"}},
         {},
         {},
         "Software Update",
         "Software Update"},
        {"a language listed, with no folder",
         {{"LANG", "de_AT.UTF-8"}},
         {},
         {PlistValue("de")},
         "Release Notes:",
         "Versionshinweise:"},
        {"a language the host lacks",
         {{"LANG", "fr_FR.UTF-8"}},
         {"de"},
         {},
         "Software Update",
         "Software Update"},
        {"Chinese by script",
         {{"LANG", "zh_CN.UTF-8"}},
         {"zh-Hans"},
         {},
         "Skip This Version",
         "跳过此版本"},
        {"the first preferred language the host has",
         {{"LANGUAGE", "ja:de"}},
         {"de"},
         {},
         "Release Notes:",
         "Versionshinweise:"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        CapturingLog log;
        PlistDictionary info{{"CFBundleName", "Demo"}};
        if (!row.localizations.empty())
            info.emplace("CFBundleLocalizations", PlistValue(row.localizations));
        ASSERT_TRUE(
            writePropertyListFile(PlistValue(info), dir / "Info.plist", PlistFormat::XML, nullptr));
        for (const auto& folder : row.folders)
            std::filesystem::create_directories(dir.path() / (folder + ".lproj"));
        // The host's German table has one key only.
        if (std::filesystem::exists(dir / "de.lproj"))
            dir.writeFile("de.lproj/Brenvo.strings", "\"Skip This Version\" = \"Nicht jetzt\";\n");
        ScopedLocale locale(row.locale);
        const InfoPlistBundle host(dir / "Info.plist", log);
        EXPECT_EQ(host.localizedStringForKey(row.key, "", "Brenvo"), row.expected);
        EXPECT_TRUE(log.lines().empty());
    }
}

} // namespace
