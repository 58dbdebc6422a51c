// The HTTPS loopback server and the run-time certificates, checked with plain libcurl: each
// flawed identity is refused for exactly its flaw, so tests of the HTTP client that expect a
// refusal cannot pass for another reason.
#include "support/LoopbackServer.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <string>

namespace {

using brenvo::test::LoopbackServer;
using brenvo::test::TempDir;
using brenvo::test::TestCertificates;
using Leaf = TestCertificates::Leaf;
using Versions = LoopbackServer::TlsVersions;

struct Outcome {
    CURLcode code = CURLE_OK;
    std::string error;
    std::string body;
};

size_t collect(char* data, size_t size, size_t count, void* body) {
    static_cast<std::string*>(body)->append(data, size * count);
    return size * count;
}

// One GET that trusts only the CA bundle `caFile`. `legacyTls` lets the client speak TLS 1.0 and
// 1.1, which it otherwise refuses.
Outcome fetch(const std::string& url, const std::string& caFile, bool legacyTls,
              const char* resolve = nullptr) {
    Outcome outcome;
    CURL* curl = curl_easy_init();
    char error[CURL_ERROR_SIZE] = "";
    curl_slist* hosts = resolve ? curl_slist_append(nullptr, resolve) : nullptr;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
    curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
    curl_easy_setopt(curl, CURLOPT_RESOLVE, hosts);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &outcome.body);
    if (legacyTls) {
        curl_easy_setopt(curl, CURLOPT_SSLVERSION, CURL_SSLVERSION_TLSv1_0);
        curl_easy_setopt(curl, CURLOPT_SSL_CIPHER_LIST, "DEFAULT:@SECLEVEL=0");
    } else {
        curl_easy_setopt(curl, CURLOPT_SSLVERSION, CURL_SSLVERSION_TLSv1_2);
    }
    outcome.code = curl_easy_perform(curl);
    outcome.error = error;
    curl_easy_cleanup(curl);
    curl_slist_free_all(hosts);
    return outcome;
}

TEST(TlsLoopbackServer, EachIdentityIsRefusedForItsOwnFlaw) {
    struct Case {
        const char* name;
        Leaf leaf;
        Versions versions;
        bool legacyClient;
        bool byName;        // reach the server as "localhost"
        CURLcode code;      // CURLE_OK: the reply arrives
        const char* reason; // part of curl's message
    };
    const Case cases[] = {
        {"valid", Leaf::Valid, Versions::Current, false, false, CURLE_OK, ""},
        {"valid by name", Leaf::Valid, Versions::Current, false, true, CURLE_OK, ""},
        {"expired", Leaf::Expired, Versions::Current, false, false, CURLE_PEER_FAILED_VERIFICATION,
         "certificate has expired"},
        {"other host", Leaf::OtherHost, Versions::Current, false, false,
         CURLE_PEER_FAILED_VERIFICATION, "no alternative certificate subject name matches"},
        {"self-signed", Leaf::SelfSigned, Versions::Current, false, false,
         CURLE_PEER_FAILED_VERIFICATION, "self-signed certificate"},
        {"unknown authority", Leaf::UnknownAuthority, Versions::Current, false, false,
         CURLE_PEER_FAILED_VERIFICATION, "unable to get local issuer certificate"},
        // The outdated server works for a client that still allows its versions...
        {"TLS 1.1 to a legacy client", Leaf::Valid, Versions::BelowTls12, true, false, CURLE_OK,
         ""},
        // ...and is refused by one that requires TLS 1.2.
        {"TLS 1.1", Leaf::Valid, Versions::BelowTls12, false, false, CURLE_SSL_CONNECT_ERROR,
         "protocol version"},
    };
    TempDir dir;
    TestCertificates pki;
    dir.writeFile("ca.pem", pki.authorityPem());
    const std::string caFile = (dir / "ca.pem").string();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackServer server(pki.identity(c.leaf), c.versions);
        server.reply("/lookup", 200, R"({"resultCount":0})");
        std::string url = server.url("/lookup");
        const std::string resolve = "localhost:" + std::to_string(server.port()) + ":127.0.0.1";
        if (c.byName) {
            url = "https://localhost:" + std::to_string(server.port()) + "/lookup";
        }
        const Outcome outcome =
            fetch(url, caFile, c.legacyClient, c.byName ? resolve.c_str() : nullptr);
        EXPECT_EQ(outcome.code, c.code) << outcome.error;
        if (c.code == CURLE_OK) {
            EXPECT_EQ(outcome.body, R"({"resultCount":0})");
            EXPECT_EQ(server.requests(), std::vector<std::string>{"/lookup"});
        } else {
            EXPECT_NE(outcome.error.find(c.reason), std::string::npos) << outcome.error;
            EXPECT_TRUE(server.requests().empty());
        }
    }
}

} // namespace
