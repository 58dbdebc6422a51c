// One agent's world for a test: the test services (Info.plist and defaults files in a temporary
// folder, a manual clock with a real run loop on it, log capture), a real libcurl client with a
// short time-out, a loopback store server and a scripted release window.
#pragma once

#include "brenvo/Brenvo.h"
#include "brenvo/BrenvoKeys.h"
#include "brenvo/platform/Services.h"
#include "brenvo/platform/linux/CurlHttpClient.h"
#include "brenvo/platform/linux/FrameworkBundle.h"
#include "brenvo/platform/linux/InfoPlistBundle.h"
#include "brenvo/platform/linux/PlistFile.h"
#include "brenvo/platform/linux/PlistUserDefaults.h"

#include "support/CapturingLog.h"
#include "support/LoopbackServer.h"
#include "support/RecordingWorkspace.h"
#include "support/ScriptedWindow.h"
#include "support/TempDir.h"
#include "support/TestServices.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

namespace brenvo::test {

// An HttpClient that remembers every request and hands it to the real client.
class RecordingHttp final : public platform::HttpClient {
public:
    explicit RecordingHttp(platform::HttpClient& inner) : inner_(inner) {}
    std::unique_ptr<platform::HttpRequest> startRequest(const platform::URLRequest& request,
                                                        platform::RunLoop& loop,
                                                        Completion completion) override {
        requests.push_back(request);
        if (!forward) // nothing arrives: an empty URL fails on the loop's next pass
            return inner_.startRequest(platform::URLRequest{}, loop, std::move(completion));
        platform::URLRequest sent = request;
        if (!storeStandIn.empty() && sent.url.starts_with(kDefaultLookupUrlPrefix))
            sent.url = storeStandIn + sent.url.substr(kDefaultLookupUrlPrefix.size());
        return inner_.startRequest(sent, loop, std::move(completion));
    }
    std::vector<platform::URLRequest> requests;
    // False keeps requests off the network: nothing arrives.
    bool forward = true;
    // When set, requests for the store's default lookup URL go here instead, with the
    // identifier and the rest of the query as they were.
    std::string storeStandIn;

private:
    platform::HttpClient& inner_;
};

// The start of every test's wall clock; fractions are added per test.
inline constexpr double kEpoch = 1'800'000'000.0;

struct AgentSetup {
    // The host's Info.plist.
    platform::PlistDictionary info = {};
    // Written as the user's defaults file before anything reads it.
    std::optional<platform::PlistDictionary> defaultsFile = std::nullopt;
    // The manual clock's start.
    double now = kEpoch;
    // The most the real HTTP client waits for one request, in seconds.
    double clientTimeout = 3.0;
    // Adds "BrenvoCastUrl" pointing at the loopback store unless the Info.plist sets one.
    bool castToLoopback = true;
    // What the scripted window answers by itself; nullopt leaves it open.
    std::optional<platform::WindowAnswer> answer = std::nullopt;
    // Serves the store over HTTPS with this identity and these versions...
    std::optional<TlsIdentity> tls = std::nullopt;
    LoopbackServer::TlsVersions tlsVersions = LoopbackServer::TlsVersions::Current;
    // ...to a client that trusts the PEM certificates in this file instead of the system's.
    std::optional<std::string> caBundle = std::nullopt;
};

struct AgentWorld {
    explicit AgentWorld(AgentSetup setup)
        : server(setup.tls ? LoopbackServer(*setup.tls, setup.tlsVersions) : LoopbackServer()),
          curl(platform::CurlHttpClient::Options{
              setup.clientTimeout, platform::HttpClient::kMaxResponseSize, 5, setup.caBundle}),
          http(curl), test(http), dir(test.dir), log(test.log), clock(test.clock),
          loop(test.runLoop), center(test.center), services(&test.services), window(setup.answer),
          info(std::move(setup.info)) {
        clock.setDate(platform::Date{setup.now});
        if (setup.castToLoopback && !info.contains(kBrenvoCastUrl))
            info[std::string(kBrenvoCastUrl)] = castUrl();
        test.writeInfoPlist(info);
        if (setup.defaultsFile) {
            std::filesystem::create_directories(defaultsPath().parent_path());
            std::string why;
            EXPECT_TRUE(platform::writePropertyListFile(platform::PlistValue(*setup.defaultsFile),
                                                        defaultsPath(), platform::PlistFormat::XML,
                                                        &why))
                << why;
        }
        window.registerWith(test.windows);
    }

    // A host with an identifier, a version, and debug messages on.
    static platform::PlistDictionary host(platform::PlistDictionary extra = {}) {
        platform::PlistDictionary info = TestServices::defaultInfo();
        info[std::string(kBrenvoAppId)] = "123456";
        info[std::string(kBrenvoDebugMessages)] = true;
        info[std::string(kCFBundleShortVersionString)] = "1.9";
        for (auto& [key, value] : extra)
            info[key] = value;
        return info;
    }

    // Changes one Info.plist key (nullopt removes it); the agent sees it at its next lookup.
    void setInfo(std::string_view key, std::optional<platform::PlistValue> value) {
        if (value)
            info[std::string(key)] = *value;
        else
            info.erase(std::string(key));
        test.writeInfoPlist(info);
    }

    std::filesystem::path defaultsPath() const { return test.defaultsPath(); }

    // What another process would read from the defaults file now.
    std::optional<platform::PlistValue> storedDefault(std::string_view key) const {
        auto file = platform::readPropertyListFile(defaultsPath(), nullptr);
        if (!file || !file->asDictionary())
            return std::nullopt;
        auto found = file->asDictionary()->find(key);
        if (found == file->asDictionary()->end())
            return std::nullopt;
        return found->second;
    }

    // True when the defaults file holds "BrenvoLastCheck" as a date within a second of the
    // clock (the XML file keeps whole seconds).
    bool lastCheckIsNow() {
        auto stored = storedDefault(kBrenvoLastCheck);
        const platform::Date* date = stored ? stored->asDate() : nullptr;
        return date && std::abs(date->secondsSince1970 - clock.date().secondsSince1970) < 1.0;
    }

    std::string castUrl() const { return server.url("/lookup?id="); }

    // Seconds until the loop's next timer, or nullopt.
    std::optional<double> nextTimeout() {
        auto timeout = loop.nextTimeout();
        if (!timeout)
            return std::nullopt;
        return std::chrono::duration<double>(*timeout).count();
    }

    // Moves both clocks by `seconds`, runs one pass of the loop, and waits (in real time) for
    // the replies of the requests that pass started.
    void advanceAndDispatch(double seconds) {
        clock.advance(seconds);
        loop.dispatch();
        settle();
    }

    // Serves the loop until no request is in flight.
    void settle() { EXPECT_TRUE(loop.finishPendingIO(std::chrono::seconds(30))); }

    size_t countLines(std::string_view prefix) const {
        size_t n = 0;
        for (const auto& line : log.lines())
            n += line.starts_with(prefix) ? 1 : 0;
        return n;
    }

    std::string lastLine() const { return log.lines().empty() ? "" : log.lines().back(); }

    LoopbackServer server;
    platform::CurlHttpClient curl;
    RecordingHttp http;
    TestServices test;
    TempDir& dir;
    CapturingLog& log;
    platform::ManualClock& clock;
    platform::RunLoop& loop;
    platform::NotificationCenter& center;
    platform::Services* services;
    ScriptedWindow window;
    platform::PlistDictionary info;
};

} // namespace brenvo::test
