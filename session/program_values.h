#pragma once
// Values shared by every session window of the program; the last writer wins.
// What belongs to one connect (its user, its download folder, its activity)
// lives in that window's Pop3Session instead.
#include <cstdint>
#include <string>
#include <vector>

namespace brevan {

struct ProgramValues {
  std::string AppPath;                   // where the files live, ending in "/"; file-system bytes (common/app_path.h)
  std::vector<std::string> FilterRuleList;
  std::vector<std::string> AccountList;  // the lines of brevan.ini
  int PromoState = 1;                    // 1 or 2: the status line's state
  bool FilterRuleListCreated = false;    // created empty with the first session window
};

ProgramValues& Program();

}  // namespace brevan
