#include "accounts/account_store.h"

#include "common/file_io.h"
#include "common/file_lock.h"
#include "common/split_token.h"
#include "common/text_lines.h"
#include "decode/codecs.h"

namespace brevan {

std::vector<std::string> ReadAccountLines(std::string_view fileBytes) {
  return SplitTextLines(fileBytes);
}

AccountFields ParseAccountLine(const std::string& line) {
  std::string rest = line;
  AccountFields f;
  f.server = SplitToken(rest, ";", true);
  f.port = SplitToken(rest, ";", true);
  f.user = SplitToken(rest, ";", true);
  // Whatever follows a fourth ";" is dropped with the remainder.
  f.passwordField = SplitToken(rest, ";", true);
  f.password = DecodeBase64Text(f.passwordField);
  return f;
}

std::string AccountServerField(const std::string& line) {
  std::string copy = line;
  return SplitToken(copy, ";", false);
}

std::string BuildAccountLine(std::string_view server, std::string_view port,
                             std::string_view user, std::string_view password) {
  std::string line;
  line.reserve(server.size() + port.size() + user.size() + password.size() * 4 / 3 + 8);
  line.append(server).append(";").append(port).append(";").append(user).append(";");
  line.append(EncodeBase64Text(password));
  return line;
}

bool AccountLineMatches(std::string_view line, std::string_view server) {
  std::string key(server);
  key += ';';
  return FindCharAware(line, key) != std::string_view::npos;
}

int FindAccountLine(const std::vector<std::string>& lines, std::string_view server) {
  for (size_t i = 0; i < lines.size(); ++i)
    if (AccountLineMatches(lines[i], server)) return static_cast<int>(i);
  return -1;
}

bool ReplaceAccountLines(std::vector<std::string>& lines, std::string_view server,
                         const std::string& newLine) {
  bool replaced = false;
  for (auto& line : lines) {
    if (AccountLineMatches(line, server)) {
      line = newLine;
      replaced = true;
    }
  }
  return replaced;
}

bool RemoveAccountLine(std::vector<std::string>& lines, std::string_view server) {
  int i = FindAccountLine(lines, server);
  if (i < 0) return false;
  lines.erase(lines.begin() + i);
  return true;
}

bool SaveAccountFile(const std::string& path, const std::vector<std::string>& lines) {
  return WriteFileAtomic(path, JoinLinesCrLf(lines), 0600);
}

bool LoadAccountFile(const std::string& path, std::vector<std::string>& lines) {
  lines.clear();
  if (!FileExists(path)) {
    // A folder, a socket or anything else in the file's place is a read
    // error, not a missing file.
    return !DirectoryExists(path);
  }
  std::string bytes;
  if (!ReadWholeFile(path, bytes)) return false;
  lines = ReadAccountLines(bytes);
  return true;
}

AccountFileUpdate UpdateAccountFile(const std::string& path,
                                    const std::function<void(std::vector<std::string>&)>& change,
                                    std::vector<std::string>& lines) {
  // Held to the end of the write; a copy that cannot lock (a read-only
  // folder, say) still goes on, and the write below tells what failed.
  FileLock lock(path);
  std::vector<std::string> now;
  if (!LoadAccountFile(path, now)) return AccountFileUpdate::CannotRead;
  std::vector<std::string> changed = now;
  change(changed);
  if (!SaveAccountFile(path, changed)) {
    lines = std::move(now);
    return AccountFileUpdate::CannotWrite;
  }
  lines = std::move(changed);
  return AccountFileUpdate::Saved;
}

}  // namespace brevan
