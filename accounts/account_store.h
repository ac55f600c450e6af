#pragma once
// The account file brevan.ini, as pure functions over its lines.
//
// One account per line, four fields separated by ";":
//   server;port;user;password
// where password is EncodeBase64Text of the password text (an encoding, not a
// protection; that is why the file is written readable by its owner only).
// No header, no sections, no comments, no escaping. Lines keep the order in
// which they were added; a new account goes to the end.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace brevan {

inline constexpr const char kAccountFileName[] = "brevan.ini";

// The file's lines: CR LF, a lone CR and a lone LF each end a line; an empty
// line is an empty entry and is written back unchanged.
std::vector<std::string> ReadAccountLines(std::string_view fileBytes);

struct AccountFields {
  std::string server, port, user, password;  // password decoded
  // Field 4 as written. Empty where the keyring keeps the password (or the
  // password is blank); a line saved without a keyring holds the Base64.
  std::string passwordField;
};

// Takes the fields one after another (each ends at the next ";" or at the end
// of the line). Missing fields are empty; text after a fourth ";" is ignored.
// The password is DecodeBase64Text of field 4.
AccountFields ParseAccountLine(const std::string& line);

// Field 1: the text before the first ";", or the whole line (the server list).
std::string AccountServerField(const std::string& line);

// server + ";" + port + ";" + user + ";" + EncodeBase64Text(password). The
// texts go in as typed (a blank password gives an empty field).
std::string BuildAccountLine(std::string_view server, std::string_view port,
                             std::string_view user, std::string_view password);

// The key of an account is its server text followed by ";" anywhere in the
// line (a case-sensitive substring test), as account files have always been
// read: saving "example.com" therefore rewrites the line of
// "pop.example.com", and a user name ending in the server text matches too.
// The search honours double-byte characters, as the server list's does: a key
// never starts on the trail byte of a Big5 character.
bool AccountLineMatches(std::string_view line, std::string_view server);

// The 0-based index of the first line belonging to server, or -1.
int FindAccountLine(const std::vector<std::string>& lines, std::string_view server);

// Replaces every line belonging to server by newLine. False when none did;
// the caller then appends newLine itself.
bool ReplaceAccountLines(std::vector<std::string>& lines, std::string_view server,
                         const std::string& newLine);

// Removes the first line belonging to server only. False when none did.
bool RemoveAccountLine(std::vector<std::string>& lines, std::string_view server);

// The path is a file-system path (UTF-8 bytes, common/file_io.h); the lines
// are code-page text.
//
// Writes every line followed by CR LF, mode 0600, through a temporary file
// beside the target that is renamed into place: a failed save (missing or
// read-only folder, full disk) returns false and leaves the old file intact.
bool SaveAccountFile(const std::string& path, const std::vector<std::string>& lines);

// Reads the file into lines (replacing their contents). A missing file gives
// no lines and true; false only when the file exists but cannot be read.
bool LoadAccountFile(const std::string& path, std::vector<std::string>& lines);

enum class AccountFileUpdate { Saved, CannotRead, CannotWrite };

// Saving or deleting from one running copy must not drop what another copy
// saved meanwhile: under an exclusive lock on the file, re-reads it, applies
// change to the lines it holds now, and writes them back (as SaveAccountFile).
// lines receives what the file then holds; on a read failure nothing is
// changed or written.
AccountFileUpdate UpdateAccountFile(const std::string& path,
                                    const std::function<void(std::vector<std::string>&)>& change,
                                    std::vector<std::string>& lines);

}  // namespace brevan
