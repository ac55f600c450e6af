#include "common/app_path.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace brevan {
namespace {

struct Overrides {
  std::string appPath;
  std::string programFolder;
  bool programFolderWritable = true;
};

Overrides& Override() {
  static Overrides overrides;
  return overrides;
}

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder.push_back('/');
  return folder;
}

std::string EnvOrEmpty(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

// HOME, or the password database's entry when HOME is unset.
std::string HomeFolder() {
  std::string home = EnvOrEmpty("HOME");
  if (!home.empty()) return home;
  struct passwd entry{};
  struct passwd* found = nullptr;
  char buf[4096];
  if (::getpwuid_r(::getuid(), &entry, buf, sizeof buf, &found) == 0 && found && found->pw_dir)
    return found->pw_dir;
  return {};
}

}  // namespace

void SetAppPathOverride(const std::string& folder) { Override().appPath = folder; }

void SetProgramFolderOverride(const std::string& folder, bool writable) {
  Override().programFolder = folder;
  Override().programFolderWritable = writable;
}

std::string ExecutableFolder() {
  if (!Override().programFolder.empty()) return WithSlash(Override().programFolder);
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string_view exe(buf, n > 0 ? static_cast<size_t>(n) : 0);
  size_t slash = exe.rfind('/');
  return slash == std::string_view::npos ? std::string("./") : std::string(exe.substr(0, slash + 1));
}

std::string UserDataFolder(std::string_view xdgDataHome, std::string_view home) {
  // A relative XDG_DATA_HOME is invalid and ignored, as the base-directory
  // rules ask.
  if (!xdgDataHome.empty() && xdgDataHome.front() == '/') return WithSlash(std::string(xdgDataHome)) + "brevan/";
  if (!home.empty() && home.front() == '/') return WithSlash(std::string(home)) + ".local/share/brevan/";
  return {};
}

std::string ChooseAppPath(const std::string& programFolder, bool programFolderWritable,
                          const std::string& userFolder) {
  if (programFolderWritable || userFolder.empty()) return WithSlash(programFolder);
  return WithSlash(userFolder);
}

bool FolderWritable(const std::string& folder) {
  return !folder.empty() && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

bool SystemProgramFolder(std::string_view folder) {
  for (std::string_view system : {"/usr/", "/bin/", "/sbin/"}) {
    if (folder.substr(0, system.size()) == system) return true;
    if (folder == system.substr(0, system.size() - 1)) return true;
  }
  return false;
}

bool MakePrivateFolder(const std::string& folder) {
  if (folder.empty()) return false;
  for (size_t i = 1; i <= folder.size(); ++i) {
    if (i == folder.size() || folder[i] == '/') {
      const std::string part = folder.substr(0, i);
      if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
  }
  struct stat st{};
  return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string AppFolder() {
  if (!Override().appPath.empty()) return WithSlash(Override().appPath);
  const std::string program = ExecutableFolder();
  const bool writable = Override().programFolder.empty()
                            ? FolderWritable(program) && !SystemProgramFolder(program)
                            : Override().programFolderWritable;
  const std::string user = UserDataFolder(EnvOrEmpty("XDG_DATA_HOME"), HomeFolder());
  const std::string chosen = ChooseAppPath(program, writable, user);
  if (chosen != program && !MakePrivateFolder(chosen)) return program;
  return chosen;
}

}  // namespace brevan
