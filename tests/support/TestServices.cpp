#include "support/TestServices.h"

#include "brenvo/platform/linux/CurlHttpClient.h"
#include "brenvo/platform/linux/PlistFile.h"

#include <stdexcept>

namespace brenvo::test {

namespace {

constexpr std::string_view kIdentifier = "org.brenvo.test";

} // namespace

platform::PlistDictionary TestServices::defaultInfo() {
    return {{"CFBundleIdentifier", std::string(kIdentifier)},
            {"CFBundleName", "Brenvo Test"},
            {"CFBundleShortVersionString", "1.0"}};
}

TestServices::TestServices() : TestServices(static_cast<platform::HttpClient*>(nullptr)) {}

TestServices::TestServices(platform::HttpClient& http) : TestServices(&http) {}

TestServices::TestServices(platform::HttpClient* given)
    : ownedHttp_(given != nullptr ? nullptr : std::make_unique<platform::CurlHttpClient>()),
      runLoop(clock), mainBundle(dir / "App" / "Info.plist", log),
      defaults(dir / "config" / std::string(kIdentifier) / (std::string(kIdentifier) + ".plist"),
               log),
      http(given != nullptr ? *given : *ownedHttp_), services{mainBundle,    frameworkBundle,
                                                              defaults,      clock,
                                                              runLoop,       center,
                                                              log,           http,
                                                              systemVersion, workspace,
                                                              windows} {
    std::filesystem::create_directories(resourcesPath());
    writeInfoPlist(defaultInfo());
    runLoop.makeCurrent();
}

TestServices::~TestServices() = default;

platform::Services TestServices::servicesOn(platform::Clock& otherClock, platform::RunLoop& loop,
                                            platform::Log& otherLog,
                                            platform::HttpClient& otherHttp) {
    return platform::Services{mainBundle,    frameworkBundle, defaults, otherClock,
                              loop,          center,          otherLog, otherHttp,
                              systemVersion, workspace,       windows};
}

std::filesystem::path TestServices::infoPlistPath() const {
    return dir / "App" / "Info.plist";
}

std::filesystem::path TestServices::resourcesPath() const {
    return dir / "App" / "Resources";
}

std::filesystem::path TestServices::defaultsPath() const {
    return defaults.path();
}

void TestServices::writeInfoPlist(const platform::PlistDictionary& info) {
    std::string error;
    if (!platform::writePropertyListFile(platform::PlistValue(info), infoPlistPath(),
                                         platform::PlistFormat::XML, &error)) {
        throw std::runtime_error("cannot write " + infoPlistPath().string() + ": " + error);
    }
}

void TestServices::setInfo(std::string_view key, const platform::PlistValue& value) {
    platform::PlistDictionary current = info();
    current.insert_or_assign(std::string(key), value);
    writeInfoPlist(current);
}

void TestServices::removeInfo(std::string_view key) {
    platform::PlistDictionary current = info();
    current.erase(std::string(key));
    writeInfoPlist(current);
}

platform::PlistDictionary TestServices::info() const {
    auto root = platform::readPropertyListFile(infoPlistPath(), nullptr);
    if (root && root->asDictionary() != nullptr) {
        return *root->asDictionary();
    }
    return {};
}

} // namespace brenvo::test
