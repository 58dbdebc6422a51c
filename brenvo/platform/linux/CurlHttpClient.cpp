#include "brenvo/platform/linux/CurlHttpClient.h"

#include "brenvo/platform/RunLoop.h"

#include <curl/curl.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <strings.h>
#include <sys/timerfd.h>
#include <unistd.h>

#ifndef BRENVO_VERSION_STRING
#define BRENVO_VERSION_STRING "0"
#endif

namespace brenvo::platform {

namespace {

constexpr double kDefaultTimeoutSeconds = 10.0;
// libcurl takes its time-out as a long of milliseconds; keep well inside 32 bits.
constexpr double kLongestTimeoutMs = 24.0 * 3600 * 1000;

CURLcode initialiseCurl() {
    static std::once_flag once;
    static CURLcode result = CURLE_OK;
    std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
    return result;
}

// One GET on libcurl's multi interface, driven by the run loop: each socket libcurl uses is a
// descriptor watch, and libcurl's timer is a timerfd on the monotonic clock, watched too, so the
// transfer keeps real time whatever clock the loop runs on.
class CurlTransfer final : public HttpRequest {
public:
    CurlTransfer(RunLoop& loop, HttpClient::Completion completion, size_t cap)
        : loop_(loop), completion_(std::move(completion)), cap_(cap) {}

    ~CurlTransfer() override {
        stop();
        if (failLater_)
            failLater_->invalidate();
    }

    CurlTransfer(const CurlTransfer&) = delete;
    CurlTransfer& operator=(const CurlTransfer&) = delete;

    // Sets the transfer up and hands it to libcurl; nothing is sent before the loop runs. A
    // transfer that cannot start completes with the reason on the loop's next pass.
    void start(const URLRequest& request, const CurlHttpClient::Options& options, long timeoutMs) {
        std::string why;
        if (!begin(request, options, timeoutMs, why)) {
            stop();
            pending_ = RunLoop::PendingIO(loop_); // until the failure has been told
            failLater_ = Timer::timerWithTimeInterval(0, [this, why] {
                failLater_.reset();
                complete(failure(why));
            });
            loop_.addTimer(failLater_, kDefaultRunLoopMode);
        }
    }

private:
    static URLResponse failure(std::string error) {
        URLResponse response;
        response.error = std::move(error);
        return response;
    }

    bool begin(const URLRequest& request, const CurlHttpClient::Options& options, long timeoutMs,
               std::string& why) {
        if (request.url.empty()) {
            why = "no URL";
            return false;
        }
        if (request.url.find('\0') != std::string::npos) {
            why = "the URL contains a NUL character";
            return false;
        }
        if (CURLcode code = initialiseCurl(); code != CURLE_OK) {
            why = std::string("libcurl cannot start: ") + curl_easy_strerror(code);
            return false;
        }
        easy_ = curl_easy_init();
        multi_ = curl_multi_init();
        timerFd_ = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
        if (easy_ == nullptr || multi_ == nullptr || timerFd_ < 0) {
            why = "libcurl cannot create a transfer";
            return false;
        }

        const long maxRedirects = std::max(0L, options.maxRedirects);
        const curl_off_t maxFileSize =
            static_cast<curl_off_t>(std::min<size_t>(cap_, static_cast<size_t>(INT64_MAX)));
        userAgent_ = std::string("Brenvo/") + BRENVO_VERSION_STRING;
        // The request and its redirects go only to the web, never to a file or another scheme,
        // and a redirect never from https down to plain http.
        const bool secure = strncasecmp(request.url.c_str(), "https:", 6) == 0;
        bool configured =
            curl_easy_setopt(easy_, CURLOPT_URL, request.url.c_str()) == CURLE_OK &&
            curl_easy_setopt(easy_, CURLOPT_HTTPGET, 1L) == CURLE_OK &&
            curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
            curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, errorText_) == CURLE_OK &&
            curl_easy_setopt(easy_, CURLOPT_TIMEOUT_MS, timeoutMs) == CURLE_OK &&
            curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
            curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, maxRedirects) == CURLE_OK &&
            curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
            curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https") ==
                CURLE_OK &&
            // TLS 1.2 at least, whatever the system's OpenSSL configuration still allows.
            curl_easy_setopt(easy_, CURLOPT_SSLVERSION, long{CURL_SSLVERSION_TLSv1_2}) ==
                CURLE_OK &&
            // A length announced beyond the cap stops the transfer before the body arrives.
            curl_easy_setopt(easy_, CURLOPT_MAXFILESIZE_LARGE, maxFileSize) == CURLE_OK &&
            curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlTransfer::receive) == CURLE_OK &&
            curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this) == CURLE_OK &&
            curl_easy_setopt(easy_, CURLOPT_USERAGENT, userAgent_.c_str()) == CURLE_OK;
        if (configured && options.caBundle)
            configured =
                curl_easy_setopt(easy_, CURLOPT_CAINFO, options.caBundle->c_str()) == CURLE_OK &&
                curl_easy_setopt(easy_, CURLOPT_CAPATH, nullptr) == CURLE_OK;
        // Names are looked up on libcurl's resolver threads. One that never returns (a name
        // server that does not answer) must not hold the loop: at the time-out, and when the
        // transfer is cancelled, libcurl leaves the thread to end by itself instead of joining
        // it, and the thread frees what it holds once its lookup returns.
        configured = configured && curl_easy_setopt(easy_, CURLOPT_QUICK_EXIT, 1L) == CURLE_OK;
        configured =
            configured &&
            curl_multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, &CurlTransfer::onSocket) ==
                CURLM_OK &&
            curl_multi_setopt(multi_, CURLMOPT_SOCKETDATA, this) == CURLM_OK &&
            curl_multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, &CurlTransfer::onTimer) == CURLM_OK &&
            curl_multi_setopt(multi_, CURLMOPT_TIMERDATA, this) == CURLM_OK;
        if (!configured) {
            why = "libcurl refused the transfer's options";
            return false;
        }
        timerWatch_ = loop_.watchReadable(timerFd_, [this] {
            uint64_t expirations = 0;
            [[maybe_unused]] const ssize_t got = ::read(timerFd_, &expirations, sizeof expirations);
            act(CURL_SOCKET_TIMEOUT, 0);
        });
        pending_ = RunLoop::PendingIO(loop_);
        // Adding the transfer asks for a time-out of 0: the loop's next pass starts it.
        if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) {
            why = "libcurl cannot start the transfer";
            return false;
        }
        added_ = true;
        return true;
    }

    // Appends the bytes that arrived, or aborts the transfer once the body would pass the cap, so
    // a body without a length can never grow beyond it.
    static size_t receive(char* data, size_t size, size_t count, void* context) {
        auto& transfer = *static_cast<CurlTransfer*>(context);
        const size_t length = size * count;
        if (length > transfer.cap_ - transfer.body_.size()) {
            transfer.tooLarge_ = true;
            return 0; // anything but `length` makes libcurl stop with CURLE_WRITE_ERROR
        }
        if (transfer.body_.capacity() == 0)
            transfer.reserveAnnouncedLength();
        transfer.body_.insert(transfer.body_.end(), data, data + length);
        return length;
    }

    // Room for the whole body when its length is announced (up to the cap), so that a body of
    // megabytes is not copied again and again as it grows on the loop.
    void reserveAnnouncedLength() {
        curl_off_t announced = -1;
        if (curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK &&
            announced > 0)
            body_.reserve(std::min(static_cast<size_t>(announced), cap_));
    }

    // libcurl says what to wait for on a socket; the loop watches it.
    static int onSocket(CURL*, curl_socket_t socket, int what, void* context, void*) {
        auto& transfer = *static_cast<CurlTransfer*>(context);
        const auto found = transfer.sockets_.find(socket);
        if (what == CURL_POLL_REMOVE) {
            if (found != transfer.sockets_.end()) {
                transfer.loop_.removeWatch(found->second);
                transfer.sockets_.erase(found);
            }
            return 0;
        }
        const unsigned events =
            (what == CURL_POLL_IN || what == CURL_POLL_INOUT ? RunLoop::kReadable : 0) |
            (what == CURL_POLL_OUT || what == CURL_POLL_INOUT ? RunLoop::kWritable : 0);
        if (found != transfer.sockets_.end()) {
            transfer.loop_.setWatchEvents(found->second, events);
            return 0;
        }
        CurlTransfer* self = &transfer;
        transfer.sockets_.emplace(
            socket, transfer.loop_.watchDescriptor(socket, events, [self, socket](unsigned ready) {
                const int flags = ((ready & RunLoop::kReadable) != 0 ? CURL_CSELECT_IN : 0) |
                                  ((ready & RunLoop::kWritable) != 0 ? CURL_CSELECT_OUT : 0) |
                                  ((ready & RunLoop::kError) != 0 ? CURL_CSELECT_ERR : 0);
                self->act(socket, flags);
            }));
        return 0;
    }

    // libcurl asks to be called back after `milliseconds` (-1: not at all).
    static int onTimer(CURLM*, long milliseconds, void* context) {
        auto& transfer = *static_cast<CurlTransfer*>(context);
        struct itimerspec due {};
        if (milliseconds >= 0) {
            due.it_value.tv_sec = milliseconds / 1000;
            due.it_value.tv_nsec = (milliseconds % 1000) * 1'000'000;
            if (milliseconds == 0)
                due.it_value.tv_nsec = 1; // zero would disarm the timer
        }
        return timerfd_settime(transfer.timerFd_, 0, &due, nullptr) == 0 ? 0 : -1;
    }

    // Lets libcurl work on a ready socket (or its time-out), then completes when it is done.
    void act(curl_socket_t socket, int flags) {
        int running = 0;
        curl_multi_socket_action(multi_, socket, flags, &running);
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
            if (message->msg == CURLMSG_DONE) {
                finish(message->data.result);
                return; // `this` may be gone
            }
        }
    }

    void finish(CURLcode code) {
        if (code == CURLE_FILESIZE_EXCEEDED)
            tooLarge_ = true;
        URLResponse response;
        if (tooLarge_) {
            response = failure("the response is larger than " + std::to_string(cap_) + " bytes");
            response.tooLarge = true;
        } else if (code != CURLE_OK) {
            response = failure(errorText_[0] != '\0' ? std::string(errorText_)
                                                     : std::string(curl_easy_strerror(code)));
        } else {
            response.body = std::move(body_);
        }
        readStatus(response);
        response.networkFailed = response.status == 0 && isNetworkFailure(code);
        complete(std::move(response));
    }

    static bool isNetworkFailure(CURLcode code) {
        return code == CURLE_COULDNT_RESOLVE_HOST || code == CURLE_COULDNT_RESOLVE_PROXY ||
               code == CURLE_COULDNT_CONNECT || code == CURLE_OPERATION_TIMEDOUT;
    }

    // The status and "Retry-After" of the last response libcurl received, if any.
    void readStatus(URLResponse& response) const {
        long status = 0;
        if (curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status > 0 &&
            status < 1000)
            response.status = static_cast<int>(status);
        curl_off_t connectTime = 0;
        response.connected =
            response.status != 0 ||
            (curl_easy_getinfo(easy_, CURLINFO_CONNECT_TIME_T, &connectTime) == CURLE_OK &&
             connectTime > 0);
        curl_header* header = nullptr;
        if (response.status != 0 &&
            curl_easy_header(easy_, "Retry-After", 0, CURLH_HEADER, -1, &header) == CURLHE_OK &&
            header != nullptr && header->value != nullptr)
            response.retryAfter = header->value;
    }

    // Leaves nothing on the loop, then calls the completion as the very last thing: it may
    // destroy this transfer.
    void complete(URLResponse response) {
        HttpClient::Completion completion = std::move(completion_);
        completion_ = nullptr;
        stop();
        if (completion)
            completion(std::move(response));
    }

    void stop() {
        if (multi_ != nullptr) {
            if (easy_ != nullptr && added_)
                curl_multi_remove_handle(multi_, easy_);
            // Whatever libcurl reports from here on goes nowhere.
            curl_multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, nullptr);
            curl_multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, nullptr);
        }
        added_ = false;
        for (const auto& [socket, watch] : sockets_)
            loop_.removeWatch(watch);
        sockets_.clear();
        if (timerWatch_ != 0) {
            loop_.removeWatch(timerWatch_);
            timerWatch_ = 0;
        }
        if (easy_ != nullptr)
            curl_easy_cleanup(easy_);
        easy_ = nullptr;
        if (multi_ != nullptr)
            curl_multi_cleanup(multi_);
        multi_ = nullptr;
        if (timerFd_ >= 0)
            ::close(timerFd_);
        timerFd_ = -1;
        pending_ = RunLoop::PendingIO();
    }

    RunLoop& loop_;
    HttpClient::Completion completion_;
    size_t cap_;
    CURL* easy_ = nullptr;
    CURLM* multi_ = nullptr;
    bool added_ = false;
    int timerFd_ = -1;
    uint64_t timerWatch_ = 0;
    std::map<curl_socket_t, uint64_t> sockets_;
    RunLoop::PendingIO pending_;
    std::shared_ptr<Timer> failLater_;
    std::vector<uint8_t> body_;
    bool tooLarge_ = false;
    std::string userAgent_;
    char errorText_[CURL_ERROR_SIZE] = {};
};

} // namespace

CurlHttpClient::CurlHttpClient() = default;

CurlHttpClient::CurlHttpClient(Options options) : options_(std::move(options)) {}

long CurlHttpClient::effectiveTimeoutMs(const URLRequest& request) const {
    double seconds = request.timeoutInterval;
    if (!(seconds > 0))
        seconds = kDefaultTimeoutSeconds;
    if (options_.maxTimeout && *options_.maxTimeout > 0)
        seconds = std::min(seconds, *options_.maxTimeout);
    const double milliseconds = std::ceil(std::min(seconds * 1000.0, kLongestTimeoutMs));
    return std::max(1L, static_cast<long>(milliseconds));
}

std::unique_ptr<HttpRequest> CurlHttpClient::startRequest(const URLRequest& request, RunLoop& loop,
                                                          Completion completion) {
    auto transfer =
        std::make_unique<CurlTransfer>(loop, std::move(completion), options_.maxResponseSize);
    transfer->start(request, options_, effectiveTimeoutMs(request));
    return transfer;
}

} // namespace brenvo::platform
