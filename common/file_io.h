#pragma once
// Whole-file reads and writes. Paths are in the code page and converted to
// UTF-8 for the operating system here, nowhere else.
#include <string>
#include <string_view>

namespace brevan {

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
