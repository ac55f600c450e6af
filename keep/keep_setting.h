#pragma once
// How long kept copies of deleted messages stay, or whether they are kept at
// all: the file "deleted.cfg" beside the account and rule files. Its first
// line is the number of days, in decimal; 0 keeps no copies (messages are
// then deleted as they always were). A missing file, or a first line that is
// not such a number, means the default: copies kept for 30 days.
#include <string>
#include <string_view>

namespace brevan {

inline constexpr const char kKeepSettingFileName[] = "deleted.cfg";
constexpr int kDefaultKeepDays = 30;
constexpr int kMaxKeepDays = 36500;

struct KeepSetting {
  int days = kDefaultKeepDays;  // 0: no copies
  bool KeepsCopies() const { return days > 0; }
  // How long copies already kept stay when no new ones are made.
  int ExpiryDays() const { return days > 0 ? days : kDefaultKeepDays; }
};

// The setting from the first line of text (the file's contents).
KeepSetting ParseKeepSetting(const std::string& text);
KeepSetting ReadKeepSetting(const std::string& appPath);
// Writes the days (0 to kMaxKeepDays) as the file's one line; false on failure.
bool WriteKeepSetting(const std::string& appPath, int days);

// Where a deletion on the session's account keeps its copies: the account's
// folder under "deleted/" (KeptAccountFolder), or empty when the setting
// keeps none.
std::string KeptFolderForDeletion(const std::string& appPath, std::string_view sessionLabel);

// The start-up cleaning: removes the copies older than the setting's days.
int ExpireKeptCopiesAtStart(const std::string& appPath);

}  // namespace brevan
