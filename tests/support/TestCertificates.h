// Certificates made at run time with OpenSSL, for TLS tests on the loopback interface: a
// certificate authority that a test names as its CA bundle, and server identities that the
// authority signed correctly or with one flaw each.
//
//   brenvo::test::TestCertificates pki;
//   brenvo::test::LoopbackServer server(pki.identity(TestCertificates::Leaf::Valid));
//   dir.writeFile("ca.pem", pki.authorityPem());  // the client's CA bundle
//
// Keys are ECDSA P-256 and signatures SHA-256; certificates are valid from an hour ago for a day
// unless the flaw says otherwise. Nothing is written to disk.
#pragma once

#include <memory>
#include <string>

namespace brenvo::test {

// What a TLS server presents: its certificate (followed by any intermediates) and its key.
struct TlsIdentity {
    std::string certificateChainPem;
    std::string privateKeyPem;
};

class TestCertificates {
public:
    enum class Leaf {
        Valid,            // for 127.0.0.1 and localhost, signed by the authority
        Expired,          // as Valid, but its validity ended yesterday
        OtherHost,        // signed by the authority for "other.example" only
        SelfSigned,       // for 127.0.0.1 and localhost, signed by its own key
        UnknownAuthority, // for 127.0.0.1 and localhost, signed by an authority nobody trusts
    };

    TestCertificates();
    ~TestCertificates();
    TestCertificates(const TestCertificates&) = delete;
    TestCertificates& operator=(const TestCertificates&) = delete;

    // The authority's certificate in PEM form: the whole CA bundle of a client that trusts it.
    const std::string& authorityPem() const;
    // A fresh key and certificate of the given kind.
    TlsIdentity identity(Leaf kind) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace brenvo::test
