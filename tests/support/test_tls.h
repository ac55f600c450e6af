#pragma once
// TLS material for the test servers, made once per process with the OpenSSL
// API (nothing on disk unless asked for): a self-signed certificate for
// 127.0.0.1, a second one standing for a server whose certificate changed,
// and a test certificate authority with certificates it issued.
#include <string>

struct ssl_ctx_st;
struct ssl_st;

namespace brevan::test {

enum class TestCertificate {
  SelfSigned,         // self-signed, CN 127.0.0.1 (what every TLS test server shows by default)
  OtherSelfSigned,    // another key, the same name: the same server with a new certificate
  AuthorityIssued,    // issued by the test authority for IP 127.0.0.1 and DNS localhost
  AuthorityOtherName, // issued by the test authority for DNS mail.example.invalid only
};

// A new server context holding the certificate and its key. The caller frees
// it with SSL_CTX_free.
ssl_ctx_st* NewTestServerTlsContext(TestCertificate which = TestCertificate::SelfSigned);

// The server name (SNI) the client sent in the handshake of a server-side
// session, "" when it sent none.
std::string ReceivedServerName(const ssl_st* ssl);

// The self-signed certificate and key in PEM, for servers that read files.
std::string TestCertificatePem();
std::string TestPrivateKeyPem();

// The test authority's own certificate in PEM: a private trust store.
std::string TestAuthorityPem();

// SHA-256 of the certificate (DER), upper-case hex pairs joined by ":".
std::string TestCertificateSha256(TestCertificate which);

}  // namespace brevan::test
