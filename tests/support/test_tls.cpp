#include "tests/support/test_tls.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <mutex>
#include <stdexcept>

namespace brevan::test {
namespace {

struct Material {
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
};

const Material& TestMaterial() {
  static Material material;
  static std::once_flag once;
  std::call_once(once, [] {
    // P-256: quick to make, and every TLS version both sides speak takes it.
    EVP_PKEY* key = EVP_EC_gen("P-256");
    if (!key) throw std::runtime_error("test TLS: key generation failed");
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3600L * 24 * 365);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1,
                               -1, 0);
    X509_set_issuer_name(cert, name);
    if (X509_sign(cert, key, EVP_sha256()) <= 0) throw std::runtime_error("test TLS: signing failed");
    material.key = key;
    material.cert = cert;
  });
  return material;
}

template <typename Writer>
std::string ToPem(Writer write) {
  BIO* bio = BIO_new(BIO_s_mem());
  write(bio);
  char* data = nullptr;
  long n = BIO_get_mem_data(bio, &data);
  std::string out(data, static_cast<size_t>(n));
  BIO_free(bio);
  return out;
}

}  // namespace

ssl_ctx_st* NewTestServerTlsContext() {
  const Material& m = TestMaterial();
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  if (!ctx) throw std::runtime_error("test TLS: no server context");
  if (SSL_CTX_use_certificate(ctx, m.cert) != 1 || SSL_CTX_use_PrivateKey(ctx, m.key) != 1) {
    SSL_CTX_free(ctx);
    throw std::runtime_error("test TLS: certificate refused");
  }
  return ctx;
}

std::string ReceivedServerName(const ssl_st* ssl) {
  const char* name = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
  return name ? std::string(name) : std::string();
}

std::string TestCertificatePem() {
  const Material& m = TestMaterial();
  return ToPem([&](BIO* bio) { PEM_write_bio_X509(bio, m.cert); });
}

std::string TestPrivateKeyPem() {
  const Material& m = TestMaterial();
  return ToPem([&](BIO* bio) { PEM_write_bio_PrivateKey(bio, m.key, nullptr, nullptr, 0, nullptr, nullptr); });
}

}  // namespace brevan::test
