#include "support/LoopbackServer.h"

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace brenvo::test {

namespace {

using Behaviour = std::function<void(const httplib::Request&, httplib::Response&)>;

std::string pathOf(const httplib::Request& request) {
    std::string target = request.target.empty() ? request.path : request.target;
    return target.substr(0, target.find('?'));
}

} // namespace

void bypassProxiesForLoopback() {
    for (const char* name : {"no_proxy", "NO_PROXY"}) {
        const char* current = std::getenv(name);
        std::string value = current ? current : "";
        if (value.find("127.0.0.1") == std::string::npos)
            ::setenv(name, (value.empty() ? value : value + ",").append("127.0.0.1").c_str(), 1);
    }
}

namespace {

// Loads the identity into a server's TLS context and limits its protocol versions.
bool setUpTls(SSL_CTX& context, const TlsIdentity& identity, LoopbackServer::TlsVersions versions) {
    const auto readPem = [](const std::string& pem) {
        return std::unique_ptr<BIO, decltype(&BIO_free)>(
            BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), &BIO_free);
    };
    auto chain = readPem(identity.certificateChainPem);
    X509* leaf = PEM_read_bio_X509(chain.get(), nullptr, nullptr, nullptr);
    bool ok = leaf != nullptr && SSL_CTX_use_certificate(&context, leaf) == 1;
    X509_free(leaf);
    while (X509* intermediate = PEM_read_bio_X509(chain.get(), nullptr, nullptr, nullptr)) {
        ok = ok && SSL_CTX_add_extra_chain_cert(&context, intermediate) == 1; // takes it
    }
    ERR_clear_error(); // the end of the chain reads as an error
    auto keyPem = readPem(identity.privateKeyPem);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyPem.get(), nullptr, nullptr, nullptr);
    ok = ok && key != nullptr && SSL_CTX_use_PrivateKey(&context, key) == 1 &&
         SSL_CTX_check_private_key(&context) == 1;
    EVP_PKEY_free(key);
    if (versions == LoopbackServer::TlsVersions::BelowTls12) {
        // OpenSSL 3 allows these versions only at security level 0.
        ok = ok && SSL_CTX_set_cipher_list(&context, "DEFAULT:@SECLEVEL=0") == 1 &&
             SSL_CTX_set_min_proto_version(&context, TLS1_VERSION) == 1 &&
             SSL_CTX_set_max_proto_version(&context, TLS1_1_VERSION) == 1;
        SSL_CTX_set_security_level(&context, 0);
    } else {
        ok = ok && SSL_CTX_set_min_proto_version(&context, TLS1_2_VERSION) == 1;
    }
    return ok;
}

} // namespace

struct LoopbackServer::Impl {
    explicit Impl(std::unique_ptr<httplib::Server> server) : server(std::move(server)) {}

    std::unique_ptr<httplib::Server> server;
    std::thread thread;

    mutable std::mutex mutex;
    std::condition_variable stopped;
    bool stopping = false;
    std::map<std::string, Behaviour, std::less<>> behaviours;
    std::vector<std::string> requests;
    std::atomic<size_t> bytesStreamed{0};

    // Waits up to `interval`; false when the server began to stop meanwhile.
    bool pause(std::chrono::milliseconds interval) {
        std::unique_lock lock(mutex);
        return !stopped.wait_for(lock, interval, [this] { return stopping; });
    }

    bool isStopping() {
        std::lock_guard lock(mutex);
        return stopping;
    }

    void set(std::string path, Behaviour behaviour) {
        std::lock_guard lock(mutex);
        behaviours[std::move(path)] = std::move(behaviour);
    }

    void serve(const httplib::Request& request, httplib::Response& response) {
        Behaviour behaviour;
        {
            std::lock_guard lock(mutex);
            requests.push_back(request.target.empty() ? request.path : request.target);
            auto found = behaviours.find(pathOf(request));
            if (found != behaviours.end())
                behaviour = found->second;
        }
        if (behaviour) {
            behaviour(request, response);
        } else {
            response.status = 404;
        }
    }
};

LoopbackServer::LoopbackServer()
    : impl_(std::make_unique<Impl>(std::make_unique<httplib::Server>())) {
    start();
}

LoopbackServer::LoopbackServer(const TlsIdentity& identity, TlsVersions versions)
    : impl_(std::make_unique<Impl>(
          std::make_unique<httplib::SSLServer>([&identity, versions](SSL_CTX& context) {
              return setUpTls(context, identity, versions);
          }))),
      tls_(true) {
    if (!impl_->server->is_valid()) {
        std::fprintf(stderr, "LoopbackServer: the TLS identity cannot be used\n");
        ERR_print_errors_fp(stderr);
        std::abort();
    }
    start();
}

void LoopbackServer::start() {
    // A client that goes away mid-reply must not kill the test process.
    std::signal(SIGPIPE, SIG_IGN);
    static std::once_flag proxiesBypassed;
    std::call_once(proxiesBypassed, bypassProxiesForLoopback);

    Impl& impl = *impl_;
    auto serve = [&impl](const httplib::Request& request, httplib::Response& response) {
        impl.serve(request, response);
    };
    impl.server->Get(".*", serve);
    impl.server->Post(".*", serve);
    impl.server->set_keep_alive_timeout(1);

    port_ = impl.server->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
        std::fprintf(stderr, "LoopbackServer: cannot bind a port on 127.0.0.1\n");
        std::abort();
    }
    impl.thread = std::thread([&impl] { impl.server->listen_after_bind(); });
    // stop() only works on a running server, so do not return before it runs.
    while (!impl.server->is_running())
        std::this_thread::yield();
}

LoopbackServer::~LoopbackServer() {
    stop();
}

void LoopbackServer::stop() {
    if (!impl_->thread.joinable())
        return;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
    }
    impl_->stopped.notify_all();
    impl_->server->stop();
    impl_->thread.join();
}

std::string LoopbackServer::url(std::string_view target) const {
    return (tls_ ? "https" : "http") + std::string("://127.0.0.1:") + std::to_string(port_) +
           std::string(target);
}

void LoopbackServer::reply(std::string path, int status, std::string body,
                           std::string contentType) {
    impl_->set(std::move(path),
               [status, body = std::move(body), contentType = std::move(contentType)](
                   const httplib::Request&, httplib::Response& response) {
                   response.status = status;
                   response.set_content(body, contentType);
               });
}

void LoopbackServer::handle(std::string path, std::function<Reply(const Request&)> handler) {
    impl_->set(std::move(path), [handler = std::move(handler)](const httplib::Request& request,
                                                               httplib::Response& response) {
        Request mine;
        mine.path = pathOf(request);
        mine.target = request.target.empty() ? request.path : request.target;
        Reply reply = handler(mine);
        response.status = reply.status;
        for (const auto& [name, value] : reply.headers)
            response.set_header(name, value);
        response.set_content(reply.body, reply.contentType);
    });
}

void LoopbackServer::redirect(std::string path, std::string location, int status) {
    impl_->set(std::move(path), [location = std::move(location),
                                 status](const httplib::Request&, httplib::Response& response) {
        response.status = status;
        response.set_header("Location", location);
        response.set_content("moved", "text/plain");
    });
}

void LoopbackServer::slowBody(std::string path, std::string body,
                              std::chrono::milliseconds interval) {
    Impl* impl = impl_.get();
    impl->set(std::move(path), [impl, body = std::move(body),
                                interval](const httplib::Request&, httplib::Response& response) {
        response.status = 200;
        response.set_content_provider(
            body.size(), "application/json",
            [impl, body, interval](size_t offset, size_t, httplib::DataSink& sink) {
                if (offset > 0 && !impl->pause(interval))
                    return false;
                return sink.write(body.data() + offset, 1);
            });
    });
}

void LoopbackServer::truncatedBody(std::string path, std::string sent, size_t announcedLength) {
    impl_->set(std::move(path), [sent = std::move(sent), announcedLength](
                                    const httplib::Request&, httplib::Response& response) {
        response.status = 200;
        response.set_content_provider(announcedLength, "application/json",
                                      [sent](size_t offset, size_t, httplib::DataSink& sink) {
                                          if (offset == 0 && !sent.empty())
                                              sink.write(sent.data(), sent.size());
                                          // Failing here makes the server drop the connection short
                                          // of the length.
                                          return false;
                                      });
    });
}

void LoopbackServer::unboundedBody(std::string path, size_t totalBytes, Framing framing) {
    Impl* impl = impl_.get();
    impl->set(std::move(path),
              [impl, totalBytes, framing](const httplib::Request&, httplib::Response& response) {
                  response.status = 200;
                  auto provider = [impl, totalBytes](size_t offset, httplib::DataSink& sink) {
                      static const std::string filler(64 * 1024, 'x');
                      if (impl->isStopping())
                          return false;
                      if (offset >= totalBytes) {
                          sink.done();
                          return true;
                      }
                      size_t length = std::min(filler.size(), totalBytes - offset);
                      if (!sink.write(filler.data(), length))
                          return false;
                      impl->bytesStreamed += length;
                      return true;
                  };
                  if (framing == Framing::Chunked)
                      response.set_chunked_content_provider("application/json", provider);
                  else
                      response.set_content_provider("application/json", provider);
              });
}

void LoopbackServer::neverAnswer(std::string path) {
    Impl* impl = impl_.get();
    impl->set(std::move(path), [impl](const httplib::Request&, httplib::Response& response) {
        std::unique_lock lock(impl->mutex);
        impl->stopped.wait(lock, [impl] { return impl->stopping; });
        response.status = 503;
    });
}

std::vector<std::string> LoopbackServer::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->requests;
}

size_t LoopbackServer::bytesStreamed() const {
    return impl_->bytesStreamed;
}

} // namespace brenvo::test
