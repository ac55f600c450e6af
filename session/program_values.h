#pragma once
// Values shared by every session window of the program; the last writer wins.
#include <cstdint>
#include <string>
#include <vector>

namespace brevan {

struct ProgramValues {
  std::string AppPath;                   // where the files live, ending in "/"; file-system bytes (common/app_path.h)
  std::string SessionLabel;              // user + "(" + server + ")" of the last successful connect
  uint32_t LastActivityTick = 0;         // tick of the last POP3 activity
  std::vector<std::string> FilterRuleList;
  std::vector<std::string> AccountList;  // the lines of brevan.ini
  int PromoState = 1;                    // 1 or 2: the status line's state
  std::string LastUserName;              // taken at the start of the last connect
  std::string LastServerName;
  bool FilterRuleListCreated = false;    // created empty with the first session window
};

ProgramValues& Program();

}  // namespace brevan
