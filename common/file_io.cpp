#include "common/file_io.h"

#include "common/codepage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace brevan {
namespace {

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

std::string ShownPath(std::string_view path) { return Utf8ToAnsi(path); }

bool FileExists(const std::string& path) {
  struct stat st{};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st{};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ForceDirectories(const std::string& path) {
  const std::string& os = path;
  if (os.empty()) return false;
  for (size_t i = 1; i <= os.size(); ++i) {
    if (i == os.size() || os[i] == '/') {
      std::string part = os.substr(0, i);
      if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
  }
  struct stat st{};
  return ::stat(os.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ReadWholeFile(const std::string& path, std::string& contents) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st{};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  std::string out;
  out.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  contents = std::move(out);
  return true;
}

namespace {

// How the temporary file is named in its folder: short, so that every real
// name that fits the file system fits beside it, and hidden.
constexpr char kTemporaryPattern[] = "/.brevan-XXXXXX";

// Writing a large file starts the disk's work every so often instead of
// leaving it all to the final Sync, which then has little left to wait for.
constexpr unsigned long long kFlushStartBytes = 4ull * 1024 * 1024;

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

TemporaryFile::~TemporaryFile() { Remove(); }

bool TemporaryFile::Create(const std::string& folder) {
  Remove();
  if (folder.empty()) return false;
  std::string name = folder + kTemporaryPattern;
  // 0600 until it is placed: nobody reads half a message.
  error_ = 0;
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    error_ = errno;
    return false;
  }
  fd_ = fd;
  osPath_ = std::move(name);
  written_ = 0;
  flushStarted_ = 0;
  return true;
}

bool TemporaryFile::Write(std::string_view bytes) {
  if (fd_ < 0) return false;
  if (!WriteAll(fd_, bytes)) {
    error_ = errno;
    Remove();
    return false;
  }
  written_ += bytes.size();
  if (written_ - flushStarted_ >= kFlushStartBytes) {
    // Starts the write-out without waiting for it; a failure here only
    // leaves more for Sync.
    ::sync_file_range(fd_, static_cast<off64_t>(flushStarted_), static_cast<off64_t>(written_ - flushStarted_),
                      SYNC_FILE_RANGE_WRITE);
    flushStarted_ = written_;
  }
  return true;
}

bool TemporaryFile::Sync() {
  if (fd_ < 0) return false;
  for (;;) {
    if (::fsync(fd_) == 0) return true;
    if (errno != EINTR) {
      error_ = errno;
      return false;
    }
  }
}

bool TemporaryFile::PlaceAs(const std::string& path, unsigned mode) {
  if (fd_ < 0) return false;
  const std::string& target = path;
  if (target.empty()) return false;
  struct stat old{};
  if (::stat(target.c_str(), &old) == 0) {
    if (S_ISDIR(old.st_mode)) return false;
    mode &= (old.st_mode & 07777);
  }
  if (::fchmod(fd_, static_cast<mode_t>(mode)) != 0) return false;
  if (::rename(osPath_.c_str(), target.c_str()) != 0) return false;
  ::close(fd_);
  fd_ = -1;
  osPath_.clear();
  return true;
}

bool TemporaryFile::PlaceAsNew(const std::string& path, unsigned mode) {
  if (fd_ < 0 || path.empty()) return false;
  if (::fchmod(fd_, static_cast<mode_t>(mode)) != 0) return false;
  if (::renameat2(AT_FDCWD, osPath_.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) != 0) {
    // A file system without the no-replace rename: a hard link fails on an
    // existing name in the same way.
    if (errno != EINVAL && errno != ENOSYS) return false;
    if (::link(osPath_.c_str(), path.c_str()) != 0) return false;
    ::unlink(osPath_.c_str());
  }
  ::close(fd_);
  fd_ = -1;
  osPath_.clear();
  return true;
}

void TemporaryFile::Remove() {
  if (fd_ < 0) return;
  ::close(fd_);
  ::unlink(osPath_.c_str());
  fd_ = -1;
  osPath_.clear();
}

bool WriteFileAtomic(const std::string& path, std::string_view contents, unsigned mode) {
  if (path.empty()) return false;
  TemporaryFile file;
  return file.Create(FolderOf(path)) && file.Write(contents) && file.Sync() && file.PlaceAs(path, mode);
}

bool SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  int result;
  do {
    result = ::fsync(fd);
  } while (result != 0 && errno == EINTR);
  ::close(fd);
  return result == 0;
}

bool RemoveEmptyFolder(const std::string& path) { return !path.empty() && ::rmdir(path.c_str()) == 0; }

}  // namespace brevan
