#include "StoreServer.h"

#include "brenvo/JSON/JsonValue.h"
#include "brenvo/JSON/XKJsonWriter.h"
#include "brenvo/utf/Printable.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace brenvo::tool {

std::string lookupReply(const StoreRelease& release, const std::optional<std::string>& appId) {
    JsonObject record;
    const auto setUnlessEmpty = [&record](std::string_view key, const std::string& text) {
        if (!text.empty())
            record.set(key, JsonValue(text));
    };
    if (appId) {
        const bool numeric = !appId->empty() && appId->size() <= 18 &&
                             appId->find_first_not_of("0123456789") == std::string::npos;
        record.set("kind", JsonValue("mac-software"));
        record.set("trackId", numeric ? JsonValue(std::stoll(*appId)) : JsonValue(*appId));
        record.set("trackName", JsonValue(release.trackName));
        record.set("bundleId", JsonValue(release.bundleId));
    }
    record.set("version", JsonValue(release.version));
    setUnlessEmpty("releaseNotes", release.releaseNotes);
    setUnlessEmpty("currentVersionReleaseDate", release.releaseDate);
    setUnlessEmpty("minimumOsVersion", release.minimumOsVersion);
    if (release.page)
        record.set("trackViewUrl", JsonValue(*release.page));
    else if (appId)
        record.set("trackViewUrl", JsonValue("https://apps.apple.com/app/id" + *appId + "?mt=12"));
    if (appId) {
        // Fields the agent never reads, there to make the reply look like the real service's.
        for (const auto& [key, value] : std::initializer_list<std::pair<const char*, JsonValue>>{
                 {"releaseDate", "2024-03-14T08:00:00Z"},
                 {"sellerName", "Example Software"},
                 {"artistName", "Example Software"},
                 {"primaryGenreName", "Productivity"},
                 {"genres", JsonValue::array({"Productivity", "Utilities"})},
                 {"fileSizeBytes", "18234880"},
                 {"formattedPrice", "Free"},
                 {"price", 0},
                 {"currency", "USD"},
                 {"averageUserRating", 4.5},
                 {"userRatingCount", 128},
                 {"languageCodesISO2A", JsonValue::array({"EN", "DE", "FR"})},
                 {"isVppDeviceBasedLicensingEnabled", true}})
            record.set(std::string_view(key), value);
    }
    XKJsonWriter writer;
    writer.setHumanReadable(true);
    const JsonValue reply = JsonValue::object(
        {{"resultCount", 1}, {"results", JsonValue::array({JsonValue(std::move(record))})}});
    return writer.utf8StringWithObject(reply).value_or("{}") + "\n";
}

namespace {

// Why 127.0.0.1:`port` cannot be bound, found by trying it as the server does.
std::string bindFailure(int port) {
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return std::strerror(errno);
    const int yes = 1;
    ::setsockopt(probe, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool bound = ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    const int error = errno;
    ::close(probe);
    if (bound)
        return "it could not be bound";
    return error == EADDRINUSE ? "the port is already in use" : std::strerror(error);
}

} // namespace

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
        // The request comes from anybody who can reach the port: shown, never acted on.
        std::fprintf(stderr, "store: GET %s -> %d\n", utf::printable(target).c_str(),
                     response.status);
    });
    // SO_REUSEADDR alone: a port left in TIME_WAIT can be taken again at once, but one that
    // another server listens on is refused (cpp-httplib's default SO_REUSEPORT would share it).
    impl.server.set_socket_options([](int socket) {
        const int yes = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
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
                          : "cannot listen on 127.0.0.1 port " + std::to_string(port) + ": " +
                                bindFailure(port);
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
