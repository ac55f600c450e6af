#include "tests/support/test_tls.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <mutex>
#include <stdexcept>

namespace brevan::test {
namespace {

struct Material {
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
};

// P-256: quick to make, and every TLS version both sides speak takes it.
EVP_PKEY* NewKey() {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  if (!key) throw std::runtime_error("test TLS: key generation failed");
  return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  if (!ext) throw std::runtime_error("test TLS: bad extension");
  X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
}

// A certificate for key named cn, signed by issuer (itself when null). An
// authority gets the CA extensions; a server certificate gets san.
Material MakeCertificate(const char* cn, long serial, const Material* issuer, bool authority, const char* san) {
  Material m;
  m.key = NewKey();
  m.cert = X509_new();
  X509_set_version(m.cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(m.cert), serial);
  X509_gmtime_adj(X509_getm_notBefore(m.cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(m.cert), 3600L * 24 * 365);
  X509_set_pubkey(m.cert, m.key);
  X509_NAME* name = X509_get_subject_name(m.cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
  X509_set_issuer_name(m.cert, issuer ? X509_get_subject_name(issuer->cert) : name);
  X509* issuerCert = issuer ? issuer->cert : m.cert;
  if (authority) {
    AddExtension(m.cert, issuerCert, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(m.cert, issuerCert, NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExtension(m.cert, issuerCert, NID_subject_key_identifier, "hash");
  } else if (san) {
    AddExtension(m.cert, issuerCert, NID_basic_constraints, "CA:FALSE");
    AddExtension(m.cert, issuerCert, NID_ext_key_usage, "serverAuth");
    AddExtension(m.cert, issuerCert, NID_subject_alt_name, san);
  }
  if (X509_sign(m.cert, issuer ? issuer->key : m.key, EVP_sha256()) <= 0) {
    throw std::runtime_error("test TLS: signing failed");
  }
  return m;
}

struct AllMaterial {
  Material selfSigned, otherSelfSigned, authority, issued, issuedOtherName;
};

const AllMaterial& Materials() {
  static AllMaterial all;
  static std::once_flag once;
  std::call_once(once, [] {
    all.selfSigned = MakeCertificate("127.0.0.1", 1, nullptr, false, nullptr);
    all.otherSelfSigned = MakeCertificate("127.0.0.1", 2, nullptr, false, nullptr);
    all.authority = MakeCertificate("Brevan Test Authority", 3, nullptr, true, nullptr);
    all.issued = MakeCertificate("127.0.0.1", 4, &all.authority, false, "IP:127.0.0.1,DNS:localhost");
    all.issuedOtherName = MakeCertificate("mail.example.invalid", 5, &all.authority, false, "DNS:mail.example.invalid");
  });
  return all;
}

const Material& Pick(TestCertificate which) {
  const AllMaterial& all = Materials();
  switch (which) {
    case TestCertificate::OtherSelfSigned: return all.otherSelfSigned;
    case TestCertificate::AuthorityIssued: return all.issued;
    case TestCertificate::AuthorityOtherName: return all.issuedOtherName;
    case TestCertificate::SelfSigned: break;
  }
  return all.selfSigned;
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

ssl_ctx_st* NewTestServerTlsContext(TestCertificate which) {
  const Material& m = Pick(which);
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
  const Material& m = Pick(TestCertificate::SelfSigned);
  return ToPem([&](BIO* bio) { PEM_write_bio_X509(bio, m.cert); });
}

std::string TestPrivateKeyPem() {
  const Material& m = Pick(TestCertificate::SelfSigned);
  return ToPem([&](BIO* bio) { PEM_write_bio_PrivateKey(bio, m.key, nullptr, nullptr, 0, nullptr, nullptr); });
}

std::string TestAuthorityPem() {
  const Material& m = Materials().authority;
  return ToPem([&](BIO* bio) { PEM_write_bio_X509(bio, m.cert); });
}

std::string TestCertificateSha256(TestCertificate which) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  if (X509_digest(Pick(which).cert, EVP_sha256(), digest, &n) != 1) throw std::runtime_error("test TLS: digest");
  std::string out;
  char pair[4];
  for (unsigned int i = 0; i < n; ++i) {
    std::snprintf(pair, sizeof pair, i ? ":%02X" : "%02X", digest[i]);
    out += pair;
  }
  return out;
}

}  // namespace brevan::test
