#pragma once
// Where a downloaded message is stored: the download folder is the program
// folder plus the session label, the file is named after the subject. The
// subject and the label come from the server and the user, so both are made
// safe as a single path component here.
//
// Names (the file name of a subject, the folder name of a label) are code-page
// text, as the list shows them. Folders and paths are file-system bytes
// (UTF-8; see common/file_io.h): a name is converted to UTF-8 exactly when it
// is joined to a folder, by DownloadFolder and MessageFilePath.
#include <string>
#include <string_view>

namespace brevan {

// The file name (without ".eml") made from a subject. Each of
// \ / : * ? " < > | = + & ^ % $ # @ becomes "_", judged in the code page (a
// trail byte of a double-byte character is never replaced); leading and
// trailing bytes up to 0x20 are removed, and an empty result is
// "(no_subject)". Control bytes left inside become "_" as well, and a leading
// "." becomes "_", so the name is never hidden, never "." or "..".
std::string MessageFileName(std::string_view subject);

// The same for a UTF-8 subject (as the list shows it); the name stays UTF-8.
std::string MessageFileNameUtf8(std::string_view subject);

// True when name + ".eml", converted to UTF-8 for the file system, fits in
// one path component (NAME_MAX, 255 bytes).
bool FitsFileSystemName(std::string_view name);

// MessageFileName of the subject, or the row's number when that name does not
// fit the file system.
std::string MessageFileBaseName(std::string_view subject, const std::string& number);

// MessageFileNameUtf8 of the subject, or the row's number when that name does
// not fit in one path component.
std::string MessageFileBaseNameUtf8(std::string_view subject, const std::string& number);

// The session label as a folder name: "/" and control bytes become "_", and a
// leading "." becomes "_", so the label can never leave the program folder.
std::string DownloadFolderName(std::string_view sessionLabel);

// appPath (file-system bytes, ending in "/") + the folder name of the label
// in UTF-8.
std::string DownloadFolder(const std::string& appPath, std::string_view sessionLabel);

// folder (file-system bytes) + "/" + the code-page name in UTF-8 + ".eml".
std::string MessageFilePath(const std::string& folder, const std::string& name);

// folder (file-system bytes) + "/" + a UTF-8 name + ".eml".
std::string MessageFilePathUtf8(const std::string& folder, const std::string& name);

}  // namespace brevan
