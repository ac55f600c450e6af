#include "common/app_path.h"

#include "common/codepage.h"

#include <unistd.h>

#include <climits>

namespace brevan {
namespace {
std::string& Override() {
  static std::string folder;
  return folder;
}
}  // namespace

void SetAppPathOverride(const std::string& folder) { Override() = folder; }

std::string ExecutableFolder() {
  std::string folder = Override();
  if (folder.empty()) {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::string_view exe(buf, n > 0 ? static_cast<size_t>(n) : 0);
    size_t slash = exe.rfind('/');
    folder = (slash == std::string_view::npos) ? std::string("./") : Utf8ToAnsi(exe.substr(0, slash + 1));
  }
  if (folder.back() != '/') folder.push_back('/');
  return folder;
}

}  // namespace brevan
