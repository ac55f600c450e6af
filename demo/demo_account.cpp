#include "demo/demo_account.h"

#include "accounts/account_store.h"

#include <charconv>

namespace brevan {

bool IsDemoAccountLine(const std::string& line) {
  AccountFields f = ParseAccountLine(line);
  if (f.server != kDemoServer || f.user != kDemoUser) return false;
  int port = 0;
  const char* end = f.port.data() + f.port.size();
  auto [p, ec] = std::from_chars(f.port.data(), end, port);
  return ec == std::errc() && p == end && port >= kDemoFirstPort && port <= kDemoLastPort;
}

bool UpdateDemoAccountLine(std::vector<std::string>& lines, int port) {
  const std::string wanted =
      BuildAccountLine(kDemoServer, std::to_string(port), kDemoUser, kDemoPassword);
  bool changed = false;
  bool seen = false;
  for (auto it = lines.begin(); it != lines.end();) {
    if (!IsDemoAccountLine(*it)) {
      ++it;
      continue;
    }
    if (seen) {
      it = lines.erase(it);
      changed = true;
      continue;
    }
    seen = true;
    if (*it != wanted) {
      *it = wanted;
      changed = true;
    }
    ++it;
  }
  if (!seen) {
    lines.push_back(wanted);
    changed = true;
  }
  return changed;
}

bool UpdateDemoAccountFile(const std::string& path, int port) {
  std::vector<std::string> lines;
  if (!LoadAccountFile(path, lines)) return false;
  if (!UpdateDemoAccountLine(lines, port)) return true;
  return SaveAccountFile(path, lines);
}

}  // namespace brevan
