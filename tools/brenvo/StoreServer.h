// A stand-in for the store's lookup service on 127.0.0.1, so an application can see its update
// window without publishing anything. It answers GET /lookup?id=<id> with one release record.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace brenvo::tool {

struct StoreRelease {
    std::string version;
    std::string releaseNotes;
    std::string trackName = "Sample App";
    std::string bundleId = "org.example.sample";
    std::string releaseDate = "2026-11-30T08:00:00Z";
    std::string minimumOsVersion = "10.13";
    std::optional<std::string> page; // "trackViewUrl"; nullopt: the store's page of the id
};

// The lookup reply for `release` and the identifier `appId`, as the real service shapes it.
// Without `appId`, the reply an application serves itself from a file for every identifier:
// only the fields the agent reads, those of `release` that are empty or unset left out.
std::string lookupReply(const StoreRelease& release, const std::optional<std::string>& appId);

class StoreServer {
public:
    // Serves `release` (or, when `fixedReply` is set, that text as it is, for every id).
    StoreServer(StoreRelease release, std::optional<std::string> fixedReply);
    ~StoreServer();
    StoreServer(const StoreServer&) = delete;
    StoreServer& operator=(const StoreServer&) = delete;

    // Listens on `port` (0: a free one). False with `error` set when it cannot.
    bool start(int port, std::string& error);
    void stop();

    int port() const { return port_; }
    // The value for "BrenvoCastUrl": the lookup URL up to the identifier.
    std::string castUrl() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    int port_ = 0;
};

} // namespace brenvo::tool
