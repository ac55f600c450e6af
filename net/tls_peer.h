#pragma once
// What the client learns about the server's certificate after the TLS
// handshake. The handshake itself never verifies anything: a server whose
// certificate does not verify is still reached, and the caller decides
// (trust on first use) before it sends a single command.
#include <string>

namespace brevan {

struct TlsPeerCheck {
  // The chain verifies against the trust store and the certificate names the
  // host (a DNS name, or an IP address for an address literal).
  bool Verified = false;
  // SHA-256 of the server's certificate (DER) as upper-case hex pairs joined
  // by ":"; empty when the server presented none.
  std::string Fingerprint;
};

// The trust store the check verifies against: a PEM file of certificate
// authorities, or the empty text for the system's own (the default). Tests
// point it at a private authority.
void SetTlsTrustStoreFile(const std::string& pemFile);

// Upper-case hex pairs joined by ":".
std::string FormatFingerprint(const unsigned char* digest, size_t length);

}  // namespace brevan
