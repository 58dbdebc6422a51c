// Every platform service for one test, real where it can be: a manual clock with a real run loop
// on it, a real Info.plist file and real defaults file in a temporary folder, a notification
// centre of its own, a capturing log, a fixed system version, a recording workspace, an empty
// window registry, and the real HTTP client unless the test brings its own.
//
//   brenvo::test::TestServices test;
//   test.setInfo("BrenvoAppId", "123");
//   brenvo::Brenvo agent(test.services);
//   test.runLoop.runMode(platform::kDefaultRunLoopMode, std::chrono::hours(1));
#pragma once

#include "brenvo/platform/Services.h"
#include "brenvo/platform/linux/FrameworkBundle.h"
#include "brenvo/platform/linux/InfoPlistBundle.h"
#include "brenvo/platform/linux/PlistUserDefaults.h"
#include "support/CapturingLog.h"
#include "support/RecordingWorkspace.h"
#include "support/TempDir.h"

#include <filesystem>
#include <memory>
#include <string_view>

namespace brenvo::test {

class TestServices {
public:
    // The Info.plist the services start with: an identifier, a name and a version, no Brenvo key.
    static platform::PlistDictionary defaultInfo();

    // With the real libcurl client.
    TestServices();
    // With `http`, which must outlive this object.
    explicit TestServices(platform::HttpClient& http);
    ~TestServices();
    TestServices(const TestServices&) = delete;
    TestServices& operator=(const TestServices&) = delete;

    // "<dir>/App/Info.plist", read afresh on every lookup.
    std::filesystem::path infoPlistPath() const;
    // "<dir>/App/Resources", where "<lang>.lproj/<table>.strings" go.
    std::filesystem::path resourcesPath() const;
    // The defaults file, "<dir>/config/org.brenvo.test/org.brenvo.test.plist".
    std::filesystem::path defaultsPath() const;

    // Rewrites the Info.plist file with `info` (XML).
    void writeInfoPlist(const platform::PlistDictionary& info);
    // Sets or removes one key of the Info.plist file.
    void setInfo(std::string_view key, const platform::PlistValue& value);
    void removeInfo(std::string_view key);
    // The Info.plist file's current dictionary.
    platform::PlistDictionary info() const;

    // The same files, windows and notification centre on another clock and run loop (a host's
    // own loop on the machine's clock), with `log` and `http`.
    platform::Services servicesOn(platform::Clock& otherClock, platform::RunLoop& loop,
                                  platform::Log& otherLog, platform::HttpClient& otherHttp);

private:
    explicit TestServices(platform::HttpClient* http);
    std::unique_ptr<platform::HttpClient> ownedHttp_;

public:
    TempDir dir;
    platform::ManualClock clock;
    platform::RunLoop runLoop;
    CapturingLog log;
    platform::InfoPlistBundle mainBundle;
    platform::FrameworkBundle frameworkBundle;
    platform::PlistUserDefaults defaults;
    platform::NotificationCenter center;
    platform::FixedSystemVersion systemVersion;
    RecordingWorkspace workspace;
    platform::WindowRegistry windows;
    platform::HttpClient& http;
    platform::Services services;
};

} // namespace brenvo::test
