#include "session/message_file.h"

#include "common/codepage.h"
#include "common/trim.h"

namespace brevan {

namespace {

constexpr std::string_view kReplacedInNames = "\\/:*?\"<>|=+&^%$#@";
constexpr size_t kNameMax = 255;  // bytes of one path component on Linux file systems

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7f; }

bool IsReplacedInNames(unsigned char c) { return kReplacedInNames.find(static_cast<char>(c)) != std::string_view::npos; }

// Replaces the single-byte characters for which replace(c) is true by "_",
// never touching the trail byte of a double-byte character. In UTF-8 no byte
// of a multi-byte character is below 0x80, so there is nothing to skip.
template <class Pred>
std::string ReplaceSingleBytes(std::string_view text, bool codePage, Pred replace) {
  std::string out(text);
  for (size_t i = 0; i < out.size(); ++i) {
    const auto c = static_cast<unsigned char>(out[i]);
    if (codePage && IsLeadByte(c) && i + 1 < out.size()) {
      ++i;
      continue;
    }
    if (replace(c)) out[i] = '_';
  }
  return out;
}

void HideNoLeadingDot(std::string& name) {
  if (!name.empty() && name[0] == '.') name[0] = '_';
}

// "/" and control bytes are never a valid trail byte; after a stray lead byte
// they must still go, or a broken subject could name a path outside the folder.
void ReplaceUnsafeBytes(std::string& name) {
  for (char& ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '/' || IsControl(c)) ch = '_';
  }
}

std::string NameOf(std::string_view subject, bool codePage) {
  std::string name = TrimBlank(ReplaceSingleBytes(subject, codePage, IsReplacedInNames));
  if (name.empty()) return "(no_subject)";
  // Inner NUL and other control bytes have no place in a file name.
  ReplaceUnsafeBytes(name);
  HideNoLeadingDot(name);
  return name;
}

}  // namespace

std::string MessageFileName(std::string_view subject) { return NameOf(subject, true); }

std::string MessageFileNameUtf8(std::string_view subject) { return NameOf(subject, false); }

bool FitsFileSystemName(std::string_view name) {
  return AnsiToUtf8(name).size() + 4 <= kNameMax;
}

std::string MessageFileBaseName(std::string_view subject, const std::string& number) {
  std::string name = MessageFileName(subject);
  return FitsFileSystemName(name) ? name : number;
}

std::string MessageFileBaseNameUtf8(std::string_view subject, const std::string& number) {
  std::string name = MessageFileNameUtf8(subject);
  return name.size() + 4 <= kNameMax ? name : number;
}

std::string DownloadFolderName(std::string_view sessionLabel) {
  std::string name(sessionLabel);
  ReplaceUnsafeBytes(name);
  HideNoLeadingDot(name);
  return name;
}

std::string DownloadFolder(const std::string& appPath, std::string_view sessionLabel) {
  return appPath + AnsiToUtf8(DownloadFolderName(sessionLabel));
}

std::string MessageFilePath(const std::string& folder, const std::string& name) {
  return folder + "/" + AnsiToUtf8(name) + ".eml";
}

std::string MessageFilePathUtf8(const std::string& folder, const std::string& name) {
  return folder + "/" + name + ".eml";
}

}  // namespace brevan
