#pragma once
// The remembered server certificates, brevan.certs, and the trust-on-first-use
// decision taken after every TLS handshake, before the first command.
//
// One server per line, three fields separated by ";":
//   server;port;fingerprint
// where fingerprint is the SHA-256 of the server's certificate as upper-case
// hex pairs joined by ":". Lines that are not of this form (hand edits, a
// later version's additions) are skipped when looking up and written back
// unchanged.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace brevan {

inline constexpr const char kCertFileName[] = "brevan.certs";

// The fingerprint remembered for server and port, or the empty text. The
// server name is compared ASCII-case-insensitively (DNS names are).
std::string RememberedFingerprint(const std::vector<std::string>& lines, std::string_view server, int port);

// Makes fingerprint the one remembered for server and port: the first line
// of that server and port is replaced, any later ones removed, or a line is
// appended.
void RememberFingerprint(std::vector<std::string>& lines, std::string_view server, int port,
                         std::string_view fingerprint);

// A missing file gives no lines and true; false only when the file exists
// but cannot be read.
bool LoadCertFile(const std::string& path, std::vector<std::string>& lines);
// Every line followed by CR LF, mode 0600, through a temporary file renamed
// into place; false leaves the old file intact.
bool SaveCertFile(const std::string& path, const std::vector<std::string>& lines);

// Whether server and port were once reached through TLS: a remembered
// certificate says so, and so does the mark "server;port;" (an empty
// fingerprint) that a server whose certificate verified leaves. Older
// versions skip the mark like any line not of their form and write it back.
bool SeenWithTls(const std::vector<std::string>& lines, std::string_view server, int port);
// Adds the mark unless a line of that server and port (mark or certificate)
// is there already.
void RememberSeenWithTls(std::vector<std::string>& lines, std::string_view server, int port);

// The same on the file. A file that exists but cannot be read counts as
// seen: a question too many is better than a password in the clear.
bool ServerSeenWithTls(const std::string& certsPath, std::string_view server, int port);
// Nothing is written when the file cannot be read, or the server text
// cannot stand in a line.
void RememberServerSeenWithTls(const std::string& certsPath, std::string_view server, int port);

enum class ServerTrust {
  Verified,  // the chain and host name verify: nothing remembered or asked
  FirstUse,  // nothing remembered: remembered now
  Known,     // the remembered certificate
  Accepted,  // another certificate, and the user trusts it: remembered now
  Refused,   // another certificate, and the user does not trust it
};

inline bool TrustAllowsLogin(ServerTrust trust) { return trust != ServerTrust::Refused; }

// Asked when the server shows a certificate other than the remembered one;
// true trusts it. remembered is empty when the remembered one could not be
// read.
using AskTrustChanged = std::function<bool(const std::string& remembered, const std::string& presented)>;

// The decision for one handshake with server:port. A server that presented
// no certificate at all has nothing to remember and is asked about every
// time. When the file cannot be read the answer is asked for and nothing is
// written, so the file's other servers are never lost.
ServerTrust DecideServerTrust(const std::string& certsPath, std::string_view server, int port, bool verified,
                              const std::string& fingerprint, const AskTrustChanged& ask);

}  // namespace brevan
