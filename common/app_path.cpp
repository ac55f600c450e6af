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
    if (n > 0) {
      std::string exe(buf, static_cast<size_t>(n));
      size_t slash = exe.rfind('/');
      folder = Utf8ToAnsi(slash == std::string::npos ? std::string(".") : exe.substr(0, slash));
    } else {
      folder = ".";
    }
  }
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace brevan
