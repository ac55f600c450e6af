#pragma once
// Whole-file reads and writes.
//
// Paths are file-system paths: the bytes the operating system uses (UTF-8 on
// Linux), never code-page text. Code-page parts of a path (a session label, a
// subject-based file name) are converted to UTF-8 when the path is built
// (session/message_file.h); a path becomes code-page text only to be shown,
// through ShownPath.
#include <string>
#include <string_view>

namespace brevan {

// The path as code-page text, for a message or an error box. Characters the
// code page lacks are shown as "?"; the result is never used to open a file.
std::string ShownPath(std::string_view path);

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// Creates the folder with all missing parents; true when it exists afterwards.
bool ForceDirectories(const std::string& path);

// Reads the whole file; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& contents);

// Writes to a temporary file beside the target and renames it into place, so
// a failure never leaves a truncated file under the final name. A new file
// gets the given mode; a replaced file keeps the stricter of its old mode and
// this one. Returns false (and leaves any old file untouched) on failure.
bool WriteFileAtomic(const std::string& path, std::string_view contents, unsigned mode = 0644);

// Waits until the folder's entries (a file just renamed into it) are on the
// disk; false when that cannot be made sure.
bool SyncFolder(const std::string& folder);

// Removes a folder that is empty; false when it is not there, not empty or
// cannot be removed.
bool RemoveEmptyFolder(const std::string& path);

// A file written in pieces under a short temporary name in its folder and
// renamed to its real name only when it is whole, so a failure never leaves a
// part of it under that name. The temporary name is short whatever the real
// name is: every name the file system takes is reachable this way. Not
// copyable; the destructor removes a file that was not put in place.
class TemporaryFile {
 public:
  TemporaryFile() = default;
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  // Creates the file in the folder; false when the folder is missing or
  // cannot be written.
  bool Create(const std::string& folder);
  // Appends the bytes. A failed write (a full disk, a file-size limit)
  // removes the file at once and answers false, now and for every later call.
  bool Write(std::string_view bytes);
  // Waits until the file's bytes are on the disk. This is the one call here
  // that may block for long; it touches nothing but the open descriptor, so
  // it may run on a thread of its own while its owner waits.
  bool Sync();
  // Renames the file to path: the given mode for a new file, the stricter of
  // the old and the given mode for a replaced one. False (the file stays, to
  // try another name) when path cannot take it.
  bool PlaceAs(const std::string& path, unsigned mode = 0644);
  // The same, but never over an existing file: false (the file stays) when
  // path is taken.
  bool PlaceAsNew(const std::string& path, unsigned mode = 0600);
  // Closes and deletes the file unless it was put in place.
  void Remove();

  bool IsOpen() const { return fd_ >= 0; }
  // The temporary file's own path, as the operating system spells it.
  const std::string& TemporaryPath() const { return osPath_; }
  // errno of the last Create, Write or Sync that failed (ENOSPC, EFBIG, EACCES...);
  // 0 when none has.
  int Error() const { return error_; }

 private:
  int fd_ = -1;
  int error_ = 0;
  std::string osPath_;
  unsigned long long written_ = 0;
  unsigned long long flushStarted_ = 0;
};

}  // namespace brevan
