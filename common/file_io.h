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

}  // namespace brevan
