#include "brenvo/platform/system/CurlHttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

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

struct Transfer {
    std::vector<uint8_t> body;
    size_t cap = 0;
    bool tooLarge = false;
};

// Appends the bytes that arrived, or aborts the transfer once the body would pass the cap, so a
// body without a length can never grow beyond it.
size_t receiveBody(char* data, size_t size, size_t count, void* context) {
    auto& transfer = *static_cast<Transfer*>(context);
    const size_t length = size * count;
    if (length > transfer.cap - transfer.body.size()) {
        transfer.tooLarge = true;
        return 0; // anything but `length` makes libcurl stop with CURLE_WRITE_ERROR
    }
    transfer.body.insert(transfer.body.end(), data, data + length);
    return length;
}

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

URLResponse failure(std::string error) {
    URLResponse response;
    response.error = std::move(error);
    return response;
}

} // namespace

CurlHttpClient::CurlHttpClient() = default;

CurlHttpClient::CurlHttpClient(Options options) : options_(options) {}

long CurlHttpClient::effectiveTimeoutMs(const URLRequest& request) const {
    double seconds = request.timeoutInterval;
    if (!(seconds > 0))
        seconds = kDefaultTimeoutSeconds;
    if (options_.maxTimeout && *options_.maxTimeout > 0)
        seconds = std::min(seconds, *options_.maxTimeout);
    const double milliseconds = std::ceil(std::min(seconds * 1000.0, kLongestTimeoutMs));
    return std::max(1L, static_cast<long>(milliseconds));
}

URLResponse CurlHttpClient::sendSynchronousRequest(const URLRequest& request) {
    if (request.url.empty())
        return failure("no URL");
    if (request.url.find('\0') != std::string::npos)
        return failure("the URL contains a NUL character");
    if (CURLcode code = initialiseCurl(); code != CURLE_OK)
        return failure(std::string("libcurl cannot start: ") + curl_easy_strerror(code));

    std::unique_ptr<CURL, EasyDeleter> curl(curl_easy_init());
    if (!curl)
        return failure("libcurl cannot create a transfer");
    CURL* handle = curl.get();

    Transfer transfer;
    transfer.cap = options_.maxResponseSize;
    char errorText[CURL_ERROR_SIZE] = {};

    const long maxRedirects = std::max(0L, options_.maxRedirects);
    const curl_off_t maxFileSize = static_cast<curl_off_t>(
        std::min<size_t>(options_.maxResponseSize, static_cast<size_t>(INT64_MAX)));
    const std::string userAgent = std::string("Brenvo/") + BRENVO_VERSION_STRING;

    bool configured =
        curl_easy_setopt(handle, CURLOPT_URL, request.url.c_str()) == CURLE_OK &&
        curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L) == CURLE_OK &&
        curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
        curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText) == CURLE_OK &&
        curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, effectiveTimeoutMs(request)) == CURLE_OK &&
        curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
        curl_easy_setopt(handle, CURLOPT_MAXREDIRS, maxRedirects) == CURLE_OK &&
        // A redirect may lead only to the web, never to a file or another scheme.
        curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK &&
        // A length announced beyond the cap stops the transfer before the body arrives.
        curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, maxFileSize) == CURLE_OK &&
        curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &receiveBody) == CURLE_OK &&
        curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer) == CURLE_OK &&
        curl_easy_setopt(handle, CURLOPT_USERAGENT, userAgent.c_str()) == CURLE_OK;
    if (!configured)
        return failure("libcurl refused the transfer's options");

    const CURLcode code = curl_easy_perform(handle);
    if (code == CURLE_FILESIZE_EXCEEDED)
        transfer.tooLarge = true;
    if (transfer.tooLarge) {
        URLResponse response = failure("the response is larger than " +
                                       std::to_string(options_.maxResponseSize) + " bytes");
        response.tooLarge = true;
        return response;
    }
    if (code != CURLE_OK) {
        return failure(errorText[0] != '\0' ? std::string(errorText)
                                            : std::string(curl_easy_strerror(code)));
    }

    URLResponse response;
    response.body = std::move(transfer.body);
    return response;
}

} // namespace brenvo::platform
