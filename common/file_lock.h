#pragma once
// An exclusive advisory lock (flock) on one file, so that two running copies
// of the program that read, change and rewrite the same small file take
// turns instead of each writing back its own stale memory of it.
#include <string>

namespace brevan {

class FileLock {
 public:
  // Blocks until the lock is held. The file is created empty with the given
  // mode when it does not exist (when that is impossible, the lock is not
  // held). A file replaced by rename while we waited (the writers replace it
  // whole through WriteFileAtomic) is locked anew under its name, so the
  // holder always holds the file that now bears the name.
  explicit FileLock(const std::string& path, unsigned mode = 0600);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool Locked() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace brevan
