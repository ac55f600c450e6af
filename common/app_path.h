#pragma once
// Where the program keeps its files (brevan.ini, subjectfilter.cfg and the
// download folders).
//
// Every folder here is a file-system path as the operating system gives it:
// raw bytes, UTF-8 on Linux. It never passes through the code page, so a
// folder named with characters the code page lacks ("é", Cyrillic) still
// works. Only where a path is shown to the user is it converted (ShownPath in
// common/file_io.h).
#include <string>
#include <string_view>

namespace brevan {

// The folder of the running executable, ending in "/".
std::string ExecutableFolder();

// The per-user folder: $XDG_DATA_HOME/brevan/ when that variable holds an
// absolute path, else <home>/.local/share/brevan/; empty when neither gives
// an absolute folder.
std::string UserDataFolder(std::string_view xdgDataHome, std::string_view home);

// The decision itself: a writable program folder (the build folder, a
// portable copy) keeps the files beside the program; otherwise (an installed
// copy) they live in the user's folder, if there is one.
std::string ChooseAppPath(const std::string& programFolder, bool programFolderWritable,
                          const std::string& userFolder);

// True when files can be created in the folder by this process.
bool FolderWritable(const std::string& folder);

// True for the system's program folders (/usr/..., /bin, /sbin): a copy there
// is an installed one even for root, who could write beside it.
bool SystemProgramFolder(std::string_view folder);

// Creates the folder and its missing parents with mode 0700 (only the user
// may look inside: brevan.ini holds passwords); an existing folder keeps its
// mode. True when it is a folder afterwards.
bool MakePrivateFolder(const std::string& folder);

// The program's file folder, ending in "/", decided from the executable's
// folder (writable, and no system folder) and the environment (XDG_DATA_HOME,
// HOME); the user's folder is created when it is chosen. Falls back to the
// program folder when the user's folder cannot be made, so files are at
// least read from there.
std::string AppFolder();

// Test seams. SetAppPathOverride makes AppFolder return the given folder as
// it is; SetProgramFolderOverride makes the decision run as if the executable
// lay in the given folder, writable or not. An empty folder ends either.
void SetAppPathOverride(const std::string& folder);
void SetProgramFolderOverride(const std::string& folder, bool writable);

}  // namespace brevan
