// Info.plist bundles on real files (read anew on every lookup), their resources folder and
// localised texts, and the framework's own bundle.
#include "brenvo/platform/linux/FrameworkBundle.h"
#include "brenvo/platform/linux/InfoPlistBundle.h"
#include "brenvo/platform/linux/PlistFile.h"
#include "support/CapturingLog.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace brenvo::platform;
using brenvo::test::CapturingLog;
using brenvo::test::TempDir;

namespace {

void writePlist(const std::filesystem::path& path, const PlistDictionary& info,
                PlistFormat format) {
    std::filesystem::create_directories(path.parent_path());
    ASSERT_TRUE(writePropertyListFile(PlistValue(info), path, format, nullptr));
}

TEST(InfoPlistBundle, ReadsEitherFormatAnewOnEveryLookup) {
    for (PlistFormat format : {PlistFormat::XML, PlistFormat::Binary}) {
        TempDir dir;
        CapturingLog log;
        const auto path = dir / "Info.plist";
        InfoPlistBundle bundle(path, log);
        EXPECT_EQ(bundle.objectForInfoDictionaryKey("BrenvoAppId"), std::nullopt);
        writePlist(path, {{"BrenvoAppId", ""}, {"BrenvoInterval", 3600}}, format);
        EXPECT_EQ(bundle.objectForInfoDictionaryKey("BrenvoAppId"), PlistValue(""));
        EXPECT_EQ(bundle.objectForInfoDictionaryKey("BrenvoInterval"), PlistValue(3600));
        writePlist(path, {{"BrenvoInterval", "60"}}, format);
        EXPECT_EQ(bundle.objectForInfoDictionaryKey("BrenvoAppId"), std::nullopt);
        EXPECT_EQ(bundle.objectForInfoDictionaryKey("BrenvoInterval"), PlistValue("60"));
        EXPECT_TRUE(log.lines().empty());
    }
}

TEST(InfoPlistBundle, DamagedInfoPlistReadsAsEmptyAndIsLoggedOncePerVersion) {
    TempDir dir;
    CapturingLog log;
    const auto path = dir / "Info.plist";
    InfoPlistBundle bundle(path, log);
    struct Case {
        std::string bytes;
        const char* reason;
    };
    const Case cases[] = {
        {"", "the file is empty"},
        {"<plist><dict><key>BrenvoAppId</key>", "not a property list"},
        {dataFromPropertyList(PlistValue(PlistArray{"x"}), PlistFormat::XML),
         "does not hold a dictionary"},
    };
    for (const Case& c : cases) {
        log.clear();
        dir.writeFile("Info.plist", c.bytes);
        for (int lookup = 0; lookup < 3; ++lookup) {
            EXPECT_EQ(bundle.objectForInfoDictionaryKey("BrenvoAppId"), std::nullopt);
        }
        EXPECT_EQ(log.lines(),
                  std::vector<std::string>{"Brenvo: The Info.plist file " + path.string() +
                                           " could not be read (" + c.reason + ")."});
    }
}

TEST(InfoPlistBundle, ResourcesFolderAndLocalisedTexts) {
    TempDir dir;
    CapturingLog log;
    writePlist(dir / "flat" / "Info.plist", {}, PlistFormat::XML);
    writePlist(dir / "bundle" / "Info.plist", {}, PlistFormat::XML);
    std::filesystem::create_directories(dir / "bundle" / "Resources");
    dir.writeFile("bundle/Resources/en.lproj/Brenvo.strings",
                  "\"Skip This Version\" = \"Skip it\";\n");

    EXPECT_EQ(InfoPlistBundle(dir / "flat" / "Info.plist", log).resourcesPath(), dir / "flat");
    const InfoPlistBundle bundled(dir / "bundle" / "Info.plist", log);
    EXPECT_EQ(bundled.resourcesPath(), dir / "bundle" / "Resources");
    EXPECT_EQ(InfoPlistBundle(dir / "flat" / "Info.plist", dir / "elsewhere", log).resourcesPath(),
              dir / "elsewhere");

    struct Case {
        const char* key;
        const char* value;
        const char* table;
        const char* expected;
    };
    const Case cases[] = {
        {"Skip This Version", "", "Brenvo", "Skip it"},
        {"Missing Key", "", "Brenvo", "Missing Key"},
        {"Missing Key", "Fallback", "Brenvo", "Fallback"},
        {"Skip This Version", "", "OtherTable", "Skip This Version"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(bundled.localizedStringForKey(c.key, c.value, c.table), c.expected) << c.key;
    }
    const InfoPlistBundle given(PlistDictionary{{"BrenvoAppId", 42}}, {}, log);
    EXPECT_EQ(given.objectForInfoDictionaryKey("BrenvoAppId"), PlistValue(42));
    EXPECT_EQ(given.localizedStringForKey("Key", "", "Brenvo"), "Key");
    EXPECT_TRUE(log.lines().empty());
}

TEST(InfoPlistBundle, DefaultLooksNextToTheExecutable) {
    CapturingLog log;
    const InfoPlistBundle bundle(log);
    const auto binDir = std::filesystem::canonical(BRENVO_BIN_DIR);
    EXPECT_EQ(InfoPlistBundle::executableDirectory(), binDir);
    const auto path = bundle.infoPlistPath();
    EXPECT_TRUE(path == binDir / "Info.plist" || path == binDir.parent_path() / "Info.plist")
        << path;
}

TEST(FrameworkBundle, ReportsTheBuiltVersion) {
    const FrameworkBundle bundle;
    EXPECT_EQ(bundle.objectForInfoDictionaryKey("CFBundleShortVersionString"),
              PlistValue(BRENVO_EXPECTED_VERSION));
    const auto build = bundle.objectForInfoDictionaryKey("CFBundleVersion");
    ASSERT_TRUE(build && build->asString());
    EXPECT_FALSE(build->asString()->empty());
    EXPECT_EQ(bundle.objectForInfoDictionaryKey("BrenvoAppId"), std::nullopt);
    EXPECT_EQ(bundle.localizedStringForKey("Key", "", "Brenvo"), "Key");
}

} // namespace
