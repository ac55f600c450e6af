#include "keep/keep_setting.h"

#include <charconv>
#include <ctime>

#include "common/file_io.h"
#include "common/text_lines.h"
#include "common/trim.h"
#include "keep/kept_copies.h"

namespace brevan {

KeepSetting ParseKeepSetting(const std::string& text) {
  KeepSetting setting;
  const std::vector<std::string> lines = SplitTextLines(text);
  if (lines.empty()) return setting;
  const std::string_view first = TrimBlankView(lines.front());
  int days = 0;
  const auto [end, ec] = std::from_chars(first.data(), first.data() + first.size(), days);
  // Anything but a plain number keeps the default: copies are never turned
  // off by a line that was meant to say something else.
  if (first.empty() || ec != std::errc() || end != first.data() + first.size() || days < 0 || days > kMaxKeepDays)
    return setting;
  setting.days = days;
  return setting;
}

KeepSetting ReadKeepSetting(const std::string& appPath) {
  std::string text;
  if (!ReadWholeFile(appPath + kKeepSettingFileName, text)) return {};
  return ParseKeepSetting(text);
}

bool WriteKeepSetting(const std::string& appPath, int days) {
  if (days < 0 || days > kMaxKeepDays) return false;
  return WriteFileAtomic(appPath + kKeepSettingFileName, JoinLinesCrLf({std::to_string(days)}));
}

std::string KeptFolderForDeletion(const std::string& appPath, std::string_view sessionLabel) {
  if (!ReadKeepSetting(appPath).KeepsCopies()) return {};
  return KeptAccountFolder(appPath, sessionLabel);
}

int ExpireKeptCopiesAtStart(const std::string& appPath) {
  return ExpireKeptCopies(appPath, std::time(nullptr), ReadKeepSetting(appPath).ExpiryDays());
}

}  // namespace brevan
