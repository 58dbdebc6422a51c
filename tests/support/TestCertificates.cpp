#include "support/TestCertificates.h"

#include <openssl/bio.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstdlib>

namespace brenvo::test {

namespace {

struct Free {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
    void operator()(X509* certificate) const { X509_free(certificate); }
    void operator()(X509_EXTENSION* extension) const { X509_EXTENSION_free(extension); }
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using Key = std::unique_ptr<EVP_PKEY, Free>;
using Certificate = std::unique_ptr<X509, Free>;

// Test set-up cannot go on without its certificates.
void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "TestCertificates: %s failed\n", what);
        ERR_print_errors_fp(stderr);
        std::abort();
    }
}

Key newKey() {
    Key key(EVP_EC_gen("P-256"));
    require(key != nullptr, "EC key generation");
    return key;
}

constexpr long kHour = 60 * 60;
constexpr long kDay = 24 * kHour;

// A certificate named `commonName` for `key`, issued by `issuer` (itself when null) and signed
// with `issuerKey`, valid from `notBefore` to `notAfter` seconds from now. `extensions` are
// OpenSSL configuration pairs such as {NID_subject_alt_name, "IP:127.0.0.1"}.
Certificate newCertificate(const char* commonName, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey,
                           long notBefore, long notAfter,
                           std::initializer_list<std::pair<int, const char*>> extensions) {
    Certificate certificate(X509_new());
    require(certificate != nullptr, "X509_new");
    X509* cert = certificate.get();
    X509_set_version(cert, 2);
    unsigned char serial[16];
    require(RAND_bytes(serial, sizeof serial) == 1, "RAND_bytes");
    serial[0] &= 0x7F; // a positive serial number
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    require(number != nullptr && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert)) != nullptr,
            "serial number");
    BN_free(number);
    X509_gmtime_adj(X509_getm_notBefore(cert), notBefore);
    X509_gmtime_adj(X509_getm_notAfter(cert), notAfter);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Brenvo tests"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
    X509* signer = issuer != nullptr ? issuer : cert;
    require(X509_set_issuer_name(cert, X509_get_subject_name(signer)) == 1, "issuer name");
    require(X509_set_pubkey(cert, key) == 1, "public key");

    X509V3_CTX context;
    X509V3_set_ctx(&context, signer, cert, nullptr, nullptr, 0);
    for (const auto& [nid, value] : extensions) {
        std::unique_ptr<X509_EXTENSION, Free> extension(
            X509V3_EXT_conf_nid(nullptr, &context, nid, value));
        require(extension != nullptr && X509_add_ext(cert, extension.get(), -1) == 1, value);
    }
    require(X509_sign(cert, issuerKey, EVP_sha256()) > 0, "X509_sign");
    return certificate;
}

std::string pemOf(X509* certificate) {
    std::unique_ptr<BIO, Free> bio(BIO_new(BIO_s_mem()));
    require(bio && PEM_write_bio_X509(bio.get(), certificate) == 1, "PEM_write_bio_X509");
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(length));
}

std::string pemOf(EVP_PKEY* key) {
    std::unique_ptr<BIO, Free> bio(BIO_new(BIO_s_mem()));
    require(
        bio && PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1,
        "PEM_write_bio_PrivateKey");
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(length));
}

struct Authority {
    Key key;
    Certificate certificate;

    explicit Authority(const char* name) : key(newKey()) {
        certificate = newCertificate(name, key.get(), nullptr, key.get(), -kHour, kDay,
                                     {{NID_basic_constraints, "critical,CA:TRUE"},
                                      {NID_key_usage, "critical,keyCertSign,cRLSign"},
                                      {NID_subject_key_identifier, "hash"}});
    }

    TlsIdentity issue(const char* hosts, long notBefore, long notAfter) const {
        Key leafKey = newKey();
        Certificate leaf = newCertificate("Brenvo test server", leafKey.get(), certificate.get(),
                                          key.get(), notBefore, notAfter,
                                          {{NID_basic_constraints, "critical,CA:FALSE"},
                                           {NID_key_usage, "critical,digitalSignature"},
                                           {NID_ext_key_usage, "serverAuth"},
                                           {NID_subject_alt_name, hosts},
                                           {NID_subject_key_identifier, "hash"},
                                           {NID_authority_key_identifier, "keyid:always"}});
        return {pemOf(leaf.get()), pemOf(leafKey.get())};
    }
};

constexpr const char* kLoopbackNames = "IP:127.0.0.1,DNS:localhost";

} // namespace

struct TestCertificates::Impl {
    Authority trusted{"Brenvo test authority"};
    Authority unknown{"Brenvo unknown authority"};
    std::string trustedPem = pemOf(trusted.certificate.get());
};

TestCertificates::TestCertificates() : impl_(std::make_unique<Impl>()) {}

TestCertificates::~TestCertificates() = default;

const std::string& TestCertificates::authorityPem() const {
    return impl_->trustedPem;
}

TlsIdentity TestCertificates::identity(Leaf kind) const {
    switch (kind) {
    case Leaf::Valid:
        return impl_->trusted.issue(kLoopbackNames, -kHour, kDay);
    case Leaf::Expired:
        return impl_->trusted.issue(kLoopbackNames, -2 * kDay, -kDay);
    case Leaf::OtherHost:
        return impl_->trusted.issue("DNS:other.example", -kHour, kDay);
    case Leaf::UnknownAuthority:
        return impl_->unknown.issue(kLoopbackNames, -kHour, kDay);
    case Leaf::SelfSigned: {
        Key key = newKey();
        Certificate certificate =
            newCertificate("Brenvo test server", key.get(), nullptr, key.get(), -kHour, kDay,
                           {{NID_basic_constraints, "critical,CA:FALSE"},
                            {NID_ext_key_usage, "serverAuth"},
                            {NID_subject_alt_name, kLoopbackNames}});
        return {pemOf(certificate.get()), pemOf(key.get())};
    }
    }
    std::abort();
}

} // namespace brenvo::test
