#include "common/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace brevan {

FileLock::FileLock(const std::string& path, unsigned mode) {
  if (path.empty()) return;
  // Paths are the file system's own bytes (common/file_io.h).
  const std::string& os = path;
  for (int attempt = 0; attempt < 100; ++attempt) {
    int fd = ::open(os.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, mode);
    // A file we may read but not write can still be locked for reading it.
    if (fd < 0 && (errno == EACCES || errno == EROFS)) fd = ::open(os.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    int rc;
    do {
      rc = ::flock(fd, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      ::close(fd);
      return;
    }
    // The holder before us may have renamed a new file over this one: then
    // our lock is on a file nobody reads any more.
    struct stat held{}, named{};
    if (::fstat(fd, &held) == 0 && ::stat(os.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino) {
      fd_ = fd;
      return;
    }
    ::close(fd);
  }
}

FileLock::~FileLock() {
  // Closing the descriptor releases the lock.
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace brevan
