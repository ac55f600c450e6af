#include "accounts/cert_store.h"

#include "common/file_io.h"
#include "common/text_lines.h"

namespace brevan {
namespace {

struct CertLine {
  std::string_view server, port, fingerprint;
};

// Exactly three non-empty fields, or not a certificate line at all.
bool ParseCertLine(std::string_view line, CertLine& out) {
  const size_t first = line.find(';');
  if (first == std::string_view::npos) return false;
  const size_t second = line.find(';', first + 1);
  if (second == std::string_view::npos || line.find(';', second + 1) != std::string_view::npos) return false;
  out.server = line.substr(0, first);
  out.port = line.substr(first + 1, second - first - 1);
  out.fingerprint = line.substr(second + 1);
  return !out.server.empty() && !out.port.empty() && !out.fingerprint.empty();
}

bool SameServer(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + ('a' - 'A'));
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + ('a' - 'A'));
    if (x != y) return false;
  }
  return true;
}

bool LineIsFor(std::string_view line, std::string_view server, const std::string& port, CertLine& parsed) {
  return ParseCertLine(line, parsed) && SameServer(parsed.server, server) && parsed.port == port;
}

}  // namespace

std::string RememberedFingerprint(const std::vector<std::string>& lines, std::string_view server, int port) {
  const std::string portText = std::to_string(port);
  CertLine parsed;
  for (const std::string& line : lines) {
    if (LineIsFor(line, server, portText, parsed)) return std::string(parsed.fingerprint);
  }
  return {};
}

void RememberFingerprint(std::vector<std::string>& lines, std::string_view server, int port,
                         std::string_view fingerprint) {
  const std::string portText = std::to_string(port);
  std::string entry(server);
  entry += ';';
  entry += portText;
  entry += ';';
  entry += fingerprint;
  bool replaced = false;
  CertLine parsed;
  for (auto it = lines.begin(); it != lines.end();) {
    if (!LineIsFor(*it, server, portText, parsed)) {
      ++it;
    } else if (!replaced) {
      *it++ = entry;
      replaced = true;
    } else {
      it = lines.erase(it);
    }
  }
  if (!replaced) lines.push_back(std::move(entry));
}

namespace {

// A certificate line or a mark: three fields, server and port not empty.
bool LineNamesServer(std::string_view line, std::string_view server, const std::string& port) {
  const size_t first = line.find(';');
  if (first == std::string_view::npos) return false;
  const size_t second = line.find(';', first + 1);
  if (second == std::string_view::npos || line.find(';', second + 1) != std::string_view::npos) return false;
  return first > 0 && SameServer(line.substr(0, first), server) && line.substr(first + 1, second - first - 1) == port;
}

bool Storable(std::string_view server) { return !server.empty() && server.find_first_of(";\r\n") == std::string_view::npos; }

}  // namespace

bool SeenWithTls(const std::vector<std::string>& lines, std::string_view server, int port) {
  const std::string portText = std::to_string(port);
  for (const std::string& line : lines)
    if (LineNamesServer(line, server, portText)) return true;
  return false;
}

void RememberSeenWithTls(std::vector<std::string>& lines, std::string_view server, int port) {
  if (SeenWithTls(lines, server, port)) return;
  lines.push_back(std::string(server) + ";" + std::to_string(port) + ";");
}

bool ServerSeenWithTls(const std::string& certsPath, std::string_view server, int port) {
  std::vector<std::string> lines;
  if (!LoadCertFile(certsPath, lines)) return true;
  return SeenWithTls(lines, server, port);
}

void RememberServerSeenWithTls(const std::string& certsPath, std::string_view server, int port) {
  std::vector<std::string> lines;
  if (!Storable(server) || !LoadCertFile(certsPath, lines) || SeenWithTls(lines, server, port)) return;
  RememberSeenWithTls(lines, server, port);
  SaveCertFile(certsPath, lines);
}

bool LoadCertFile(const std::string& path, std::vector<std::string>& lines) {
  lines.clear();
  if (!FileExists(path)) return !DirectoryExists(path);
  std::string bytes;
  if (!ReadWholeFile(path, bytes)) return false;
  lines = SplitTextLines(bytes);
  return true;
}

bool SaveCertFile(const std::string& path, const std::vector<std::string>& lines) {
  return WriteFileAtomic(path, JoinLinesCrLf(lines), 0600);
}

ServerTrust DecideServerTrust(const std::string& certsPath, std::string_view server, int port, bool verified,
                              const std::string& fingerprint, const AskTrustChanged& ask) {
  if (verified) return ServerTrust::Verified;
  std::vector<std::string> lines;
  // A server text that would break the line's fields cannot be remembered:
  // it is asked about like an unreadable file.
  const bool storable = server.find_first_of(";\r\n") == std::string_view::npos;
  const bool readable = storable && LoadCertFile(certsPath, lines);
  const std::string remembered = readable ? RememberedFingerprint(lines, server, port) : std::string();
  if (readable && !fingerprint.empty()) {
    if (remembered == fingerprint) return ServerTrust::Known;
    if (remembered.empty()) {
      // A file that cannot be written only means the next connection asks
      // nothing new either: it is a first use again.
      RememberFingerprint(lines, server, port, fingerprint);
      SaveCertFile(certsPath, lines);
      return ServerTrust::FirstUse;
    }
  }
  if (!ask || !ask(remembered, fingerprint)) return ServerTrust::Refused;
  if (readable && !fingerprint.empty()) {
    RememberFingerprint(lines, server, port, fingerprint);
    SaveCertFile(certsPath, lines);
  }
  return ServerTrust::Accepted;
}

}  // namespace brevan
