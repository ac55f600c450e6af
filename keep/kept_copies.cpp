#include "keep/kept_copies.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>

#include "common/app_path.h"
#include "common/codepage.h"
#include "session/message_file.h"
#include "session/pop3_exchanges.h"

namespace brevan {

namespace {

constexpr size_t kNameMax = 255;           // bytes of one path component
constexpr size_t kStampLength = 15;        // "YYYYMMDD-HHMMSS"
constexpr int kMaxSerial = 9999;
constexpr std::string_view kEml = ".eml";
constexpr std::string_view kTemporaryPrefix = ".brevan-";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string Stamp(std::time_t keptAt) {
  std::tm local{};
  ::localtime_r(&keptAt, &local);
  char text[64];
  std::snprintf(text, sizeof text, "%04d%02d%02d-%02d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

int Digits(std::string_view text) {
  int value = 0;
  for (char c : text) value = value * 10 + (c - '0');
  return value;
}

// The entries of a folder, without "." and "..".
std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
  if (!dir) return names;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  return names;
}

// The account folders under deleted/: every visible sub-folder.
std::vector<std::string> AccountFolders(const std::string& keptFolder) {
  std::vector<std::string> accounts;
  for (const std::string& name : FolderEntries(keptFolder)) {
    if (name[0] != '.' && DirectoryExists(keptFolder + name)) accounts.push_back(name);
  }
  return accounts;
}

// The first bytes of a file, up to max.
std::string ReadStart(const std::string& path, size_t max) {
  std::string out;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return out;
  out.resize(max);
  size_t have = 0;
  while (have < max) {
    const ssize_t n = ::read(fd, out.data() + have, max - have);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    have += static_cast<size_t>(n);
  }
  ::close(fd);
  out.resize(have);
  return out;
}

// The header block's From and Subject, taken as the listing takes them.
void ReadHeaders(const std::string& path, KeptCopy& copy) {
  const std::string start = ReadStart(path, kHeaderBytes);
  static const std::vector<std::string> kNoRules;
  ListedHeaders headers;
  size_t at = 0;
  while (at < start.size()) {
    size_t end = start.find('\n', at);
    if (end == std::string::npos) end = start.size();
    std::string_view line(start.data() + at, end - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) break;  // the end of the header block
    TakeHeaderLine(line, kNoRules, headers);
    at = end + 1;
  }
  copy.sender = headers.Sender;
  copy.subject = headers.Subject;
}

bool MoveFile(const std::string& from, const std::string& to, bool replace) {
  if (replace) return ::rename(from.c_str(), to.c_str()) == 0;
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

}  // namespace

std::string KeptFolder(const std::string& appPath) { return appPath + kKeptFolderName + "/"; }

std::string KeptAccountFolder(const std::string& appPath, std::string_view sessionLabel) {
  return KeptFolder(appPath) + AnsiToUtf8(DownloadFolderName(sessionLabel));
}

std::string KeptFileName(std::string_view subject, const std::string& number, std::time_t keptAt, int serial) {
  std::string prefix = Stamp(keptAt);
  if (serial > 0) prefix += "-" + std::to_string(serial);
  prefix += " ";
  std::string name = AnsiToUtf8(MessageFileName(subject));
  // As the download does with a name the file system cannot take: the number.
  if (prefix.size() + name.size() + kEml.size() > kNameMax) name = number;
  return prefix + name + std::string(kEml);
}

bool ParseKeptFileName(std::string_view fileName, std::time_t* keptAt, std::string* downloadName) {
  if (fileName.size() < kStampLength + 1 + kEml.size() + 1) return false;
  for (size_t i = 0; i < kStampLength; ++i) {
    if (i == 8 ? fileName[i] != '-' : !IsDigit(fileName[i])) return false;
  }
  size_t at = kStampLength;
  if (fileName[at] == '-') {
    const size_t digits = fileName.find_first_not_of("0123456789", at + 1);
    if (digits == std::string_view::npos || digits == at + 1) return false;
    at = digits;
  }
  if (fileName[at] != ' ') return false;
  const std::string_view rest = fileName.substr(at + 1);
  if (rest.size() <= kEml.size() || rest.substr(rest.size() - kEml.size()) != kEml) return false;
  std::tm local{};
  local.tm_year = Digits(fileName.substr(0, 4)) - 1900;
  local.tm_mon = Digits(fileName.substr(4, 2)) - 1;
  local.tm_mday = Digits(fileName.substr(6, 2));
  local.tm_hour = Digits(fileName.substr(9, 2));
  local.tm_min = Digits(fileName.substr(11, 2));
  local.tm_sec = Digits(fileName.substr(13, 2));
  local.tm_isdst = -1;
  const std::time_t when = std::mktime(&local);
  if (when == static_cast<std::time_t>(-1)) return false;
  if (keptAt) *keptAt = when;
  if (downloadName) downloadName->assign(rest);
  return true;
}

bool PlaceKeptCopy(TemporaryFile& file, const std::string& folder, std::string_view subject,
                   const std::string& number, std::time_t keptAt, std::string* placedPath) {
  for (int serial = 0; serial <= kMaxSerial; ++serial) {
    const std::string path = folder + "/" + KeptFileName(subject, number, keptAt, serial);
    if (file.PlaceAsNew(path, 0600)) {
      if (placedPath) *placedPath = path;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

std::vector<KeptCopy> ListKeptCopies(const std::string& appPath) {
  std::vector<KeptCopy> copies;
  const std::string kept = KeptFolder(appPath);
  for (const std::string& account : AccountFolders(kept)) {
    const std::string folder = kept + account + "/";
    for (const std::string& name : FolderEntries(folder)) {
      KeptCopy copy;
      if (!ParseKeptFileName(name, &copy.keptAt, &copy.downloadName)) continue;
      copy.path = folder + name;
      if (!FileExists(copy.path)) continue;
      copy.accountFolder = account;
      copy.account = ShownPath(account);
      ReadHeaders(copy.path, copy);
      copies.push_back(std::move(copy));
    }
  }
  std::stable_sort(copies.begin(), copies.end(), [](const KeptCopy& a, const KeptCopy& b) {
    return a.keptAt != b.keptAt ? a.keptAt > b.keptAt : a.path > b.path;
  });
  return copies;
}

std::string KeptTimeText(std::time_t keptAt) {
  std::tm local{};
  ::localtime_r(&keptAt, &local);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min);
  return text;
}

int ExpireKeptCopies(const std::string& appPath, std::time_t now, int days) {
  if (days <= 0) return 0;
  const std::time_t cutoff = now - static_cast<std::time_t>(days) * 24 * 60 * 60;
  const std::string kept = KeptFolder(appPath);
  int removed = 0;
  for (const std::string& account : AccountFolders(kept)) {
    const std::string folder = kept + account + "/";
    for (const std::string& name : FolderEntries(folder)) {
      const std::string path = folder + name;
      std::time_t keptAt = 0;
      if (ParseKeptFileName(name, &keptAt, nullptr)) {
        if (keptAt <= cutoff && FileExists(path) && ::unlink(path.c_str()) == 0) ++removed;
        continue;
      }
      // What a crash left of a copy being written; a copy that another
      // running Brevan writes now is young and stays.
      struct stat st{};
      if (name.compare(0, kTemporaryPrefix.size(), kTemporaryPrefix) == 0 && ::lstat(path.c_str(), &st) == 0 &&
          S_ISREG(st.st_mode) && st.st_mtime <= cutoff) {
        ::unlink(path.c_str());
      }
    }
    RemoveEmptyFolder(folder);
  }
  return removed;
}

RestoreEnd RestoreKeptCopy(const std::string& appPath, const KeptCopy& copy, bool replace,
                           std::string* restoredPath) {
  const std::string folder = appPath + copy.accountFolder;
  if (!DirectoryExists(folder) && !ForceDirectories(folder)) return RestoreEnd::Failed;
  const std::string target = folder + "/" + copy.downloadName;
  if (!replace && FileExists(target)) return RestoreEnd::TargetExists;
  if (!MoveFile(copy.path, target, replace)) return errno == EEXIST ? RestoreEnd::TargetExists : RestoreEnd::Failed;
  if (restoredPath) *restoredPath = target;
  // The account's folder of copies goes with its last copy.
  const size_t slash = copy.path.rfind('/');
  if (slash != std::string::npos) RemoveEmptyFolder(copy.path.substr(0, slash));
  return RestoreEnd::Restored;
}

}  // namespace brevan
