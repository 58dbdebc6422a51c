#include "StoreServer.h"

#include <httplib.h>

#include <cstdio>
#include <thread>

namespace brenvo::tool {

std::string jsonQuoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string lookupReply(const StoreRelease& release, const std::string& appId) {
    const bool numeric = !appId.empty() && appId.size() <= 18 &&
                         appId.find_first_not_of("0123456789") == std::string::npos;
    const std::string trackId = numeric ? appId : jsonQuoted(appId);
    std::string reply;
    reply += "{\n \"resultCount\":1,\n \"results\":[{\n";
    reply += "  \"kind\":\"mac-software\",\n";
    reply += "  \"trackId\":" + trackId + ",\n";
    reply += "  \"trackName\":" + jsonQuoted(release.trackName) + ",\n";
    reply += "  \"bundleId\":" + jsonQuoted(release.bundleId) + ",\n";
    reply += "  \"version\":" + jsonQuoted(release.version) + ",\n";
    reply += "  \"releaseNotes\":" + jsonQuoted(release.releaseNotes) + ",\n";
    reply += "  \"currentVersionReleaseDate\":" + jsonQuoted(release.releaseDate) + ",\n";
    reply += "  \"releaseDate\":\"2024-03-14T08:00:00Z\",\n";
    reply +=
        "  \"trackViewUrl\":" + jsonQuoted("https://apps.example.org/app/id" + appId + "?mt=12") +
        ",\n";
    reply += "  \"sellerName\":\"Example Software\",\n";
    reply += "  \"artistName\":\"Example Software\",\n";
    reply += "  \"primaryGenreName\":\"Productivity\",\n";
    reply += "  \"genres\":[\"Productivity\", \"Utilities\"],\n";
    reply += "  \"minimumOsVersion\":\"10.13\",\n";
    reply += "  \"fileSizeBytes\":\"18234880\",\n";
    reply += "  \"formattedPrice\":\"Free\",\n";
    reply += "  \"price\":0.00,\n";
    reply += "  \"currency\":\"USD\",\n";
    reply += "  \"averageUserRating\":4.5,\n";
    reply += "  \"userRatingCount\":128,\n";
    reply += "  \"languageCodesISO2A\":[\"EN\", \"DE\", \"FR\"],\n";
    reply += "  \"isVppDeviceBasedLicensingEnabled\":true\n";
    reply += " }]\n}\n";
    return reply;
}

struct StoreServer::Impl {
    StoreRelease release;
    std::optional<std::string> fixedReply;
    httplib::Server server;
    std::thread thread;
};

StoreServer::StoreServer(StoreRelease release, std::optional<std::string> fixedReply)
    : impl_(std::make_unique<Impl>()) {
    impl_->release = std::move(release);
    impl_->fixedReply = std::move(fixedReply);
}

StoreServer::~StoreServer() {
    stop();
}

bool StoreServer::start(int port, std::string& error) {
    Impl& impl = *impl_;
    impl.server.Get(".*", [&impl](const httplib::Request& request, httplib::Response& response) {
        const std::string target = request.target.empty() ? request.path : request.target;
        if (request.path == "/lookup") {
            const std::string id = request.get_param_value("id");
            response.status = 200;
            response.set_content(impl.fixedReply ? *impl.fixedReply : lookupReply(impl.release, id),
                                 "text/javascript; charset=utf-8");
        } else {
            response.status = 404;
            response.set_content("{\"errorMessage\":\"Not found\"}\n", "application/json");
        }
        std::fprintf(stderr, "store: GET %s -> %d\n", target.c_str(), response.status);
    });
    if (port == 0) {
        port_ = impl.server.bind_to_any_port("127.0.0.1");
    } else if (impl.server.bind_to_port("127.0.0.1", port)) {
        port_ = port;
    } else {
        port_ = -1;
    }
    if (port_ <= 0) {
        error = port == 0 ? "cannot listen on 127.0.0.1"
                          : "cannot listen on 127.0.0.1 port " + std::to_string(port);
        port_ = 0;
        return false;
    }
    impl.thread = std::thread([&impl] { impl.server.listen_after_bind(); });
    while (!impl.server.is_running())
        std::this_thread::yield();
    return true;
}

void StoreServer::stop() {
    if (!impl_->thread.joinable())
        return;
    impl_->server.stop();
    impl_->thread.join();
}

std::string StoreServer::castUrl() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/lookup?id=";
}

} // namespace brenvo::tool
