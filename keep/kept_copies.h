#pragma once
// The copies kept of messages deleted on the server. A disconnect that
// deletes marked messages first keeps each one in the folder "deleted" of the
// program's folder, one sub-folder per account, named as the account's
// download folder is; each file is named after the time it was kept and the
// subject, and holds exactly what a download of the message would. Copies
// older than the kept days go at start-up; a copy can be restored into the
// account's download folder, where the session window looks for downloads.
//
// Paths are file-system bytes (common/file_io.h); texts shown to the user
// (account, sender, subject): the account in the code page, sender and subject in UTF-8 as the list shows them.
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "common/file_io.h"

namespace brevan {

inline constexpr const char kKeptFolderName[] = "deleted";

// appPath + "deleted/".
std::string KeptFolder(const std::string& appPath);
// The account's folder of kept copies: KeptFolder + the session label as
// DownloadFolderName makes it a folder name, in UTF-8.
std::string KeptAccountFolder(const std::string& appPath, std::string_view sessionLabel);

// The file name of a copy kept at keptAt (local time) with the given serial:
// "YYYYMMDD-HHMMSS name.eml", or "YYYYMMDD-HHMMSS-serial name.eml" for a
// serial above 0, in UTF-8. name is MessageFileName of the subject, or the
// message number when the whole does not fit in one path component.
std::string KeptFileName(std::string_view subject, const std::string& number, std::time_t keptAt, int serial);

// Parses a name made by KeptFileName: the time it was kept and what follows
// the prefix (the download's file name, ".eml" included). False for any
// other name, which is then never listed, expired or restored.
bool ParseKeptFileName(std::string_view fileName, std::time_t* keptAt, std::string* downloadName);

// Gives the finished temporary file its kept name in folder, never over
// another copy: the serial counts up while the name is taken. False when it
// could not be placed; *placedPath is the copy's path otherwise.
bool PlaceKeptCopy(TemporaryFile& file, const std::string& folder, std::string_view subject,
                   const std::string& number, std::time_t keptAt, std::string* placedPath);

// One kept copy as the window lists it.
struct KeptCopy {
  std::string path;           // the copy itself
  std::string accountFolder;  // the name of its account folder (file-system bytes)
  std::string account;        // the same, as code-page text
  std::time_t keptAt = 0;
  std::string sender;         // decoded, as the message list shows it
  std::string subject;        // decoded and cleaned up
  std::string downloadName;   // the file name a restore gives it (".eml" included)
};

// Every kept copy, newest first; the header lines are read from the first
// kHeaderBytes of each file.
std::vector<KeptCopy> ListKeptCopies(const std::string& appPath);
constexpr size_t kHeaderBytes = 64 * 1024;

// The time as the list shows it: "YYYY-MM-DD HH:MM" (local).
std::string KeptTimeText(std::time_t keptAt);

// Removes the copies kept more than days days before now, and temporary
// files that a crash left behind for as long; account folders left empty
// go too. Returns how many copies were removed.
int ExpireKeptCopies(const std::string& appPath, std::time_t now, int days);

enum class RestoreEnd {
  Restored,      // moved into the download folder
  TargetExists,  // a file of that name is there already; nothing changed
  Failed,        // it could not be moved; nothing changed
};
// Moves the copy into appPath + its account folder (the download folder of
// that account), under its download name; over a file of that name only
// when replace is true. *restoredPath is where it went.
RestoreEnd RestoreKeptCopy(const std::string& appPath, const KeptCopy& copy, bool replace,
                           std::string* restoredPath);

}  // namespace brevan
