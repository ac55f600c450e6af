#pragma once
// TLS material for the test servers: a self-signed certificate for
// 127.0.0.1, made once per process with the OpenSSL API (nothing on disk
// unless asked for).
#include <string>

struct ssl_ctx_st;
struct ssl_st;

namespace brevan::test {

// A new server context holding the process's test certificate and key. The
// caller frees it with SSL_CTX_free.
ssl_ctx_st* NewTestServerTlsContext();

// The server name (SNI) the client sent in the handshake of a server-side
// session, "" when it sent none.
std::string ReceivedServerName(const ssl_st* ssl);

// The same certificate and key in PEM, for servers that read files.
std::string TestCertificatePem();
std::string TestPrivateKeyPem();

}  // namespace brevan::test
