#include "tests/support/private_session_bus.h"

#include <fcntl.h>
#include <cstring>
#include <gio/gio.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

namespace brevan::test {
namespace fs = std::filesystem;
namespace {

constexpr const char* kDbusDaemon = "/usr/bin/dbus-daemon";
constexpr const char* kKeyringDaemon = "/usr/bin/gnome-keyring-daemon";
constexpr const char* kKeyringPassword = "brevan-test";

void StopChild(pid_t& pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGCONT);
  ::kill(pid, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pid = -1;
}

// A connection of our own to the bus (never GLib's shared session bus).
GDBusConnection* Connect(const std::string& address) {
  GError* error = nullptr;
  GDBusConnection* c = g_dbus_connection_new_for_address_sync(
      address.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error);
  if (!c) {
    std::string why = error ? error->message : "?";
    if (error) g_error_free(error);
    throw std::runtime_error("private bus: cannot connect: " + why);
  }
  return c;
}

bool NameHasOwner(GDBusConnection* c, const char* name) {
  GVariant* reply = g_dbus_connection_call_sync(c, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                "org.freedesktop.DBus", "NameHasOwner", g_variant_new("(s)", name),
                                                G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
  if (!reply) return false;
  gboolean owned = FALSE;
  g_variant_get(reply, "(b)", &owned);
  g_variant_unref(reply);
  return owned;
}

}  // namespace

std::string PrivateSessionBus::Unavailable(bool withKeyring) {
  if (::access(kDbusDaemon, X_OK) != 0) return std::string(kDbusDaemon) + " is not installed";
  if (withKeyring && ::access(kKeyringDaemon, X_OK) != 0) return std::string(kKeyringDaemon) + " is not installed";
  return "";
}

PrivateSessionBus::PrivateSessionBus(bool withKeyring) {
  const std::string why = Unavailable(withKeyring);
  if (!why.empty()) throw std::runtime_error("private bus: " + why);
  char pattern[] = "/tmp/brevan-bus-XXXXXX";
  if (!::mkdtemp(pattern)) throw std::runtime_error("private bus: mkdtemp failed");
  dir_ = pattern;
  try {
    const fs::path dir(dir_);
    for (const char* sub : {"run", "home"}) fs::create_directories(dir / sub);
    ::chmod((dir / "run").c_str(), 0700);
    {
      // No <servicedir>: nothing is started on this bus by activation.
      std::ofstream conf(dir / "bus.conf");
      conf << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig>\n  <type>session</type>\n"
           << "  <listen>unix:path=" << (dir / "bus").string() << "</listen>\n"
           << "  <auth>EXTERNAL</auth>\n"
              "  <policy context=\"default\">\n"
              "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n    <allow eavesdrop=\"true\"/>\n"
              "    <allow own=\"*\"/>\n  </policy>\n</busconfig>\n";
      if (!conf) throw std::runtime_error("private bus: cannot write its configuration");
    }

    int addressPipe[2];
    if (::pipe2(addressPipe, O_CLOEXEC) != 0) throw std::runtime_error("private bus: pipe");
    const std::string confArg = "--config-file=" + (dir / "bus.conf").string();
    busPid_ = ::fork();
    if (busPid_ < 0) throw std::runtime_error("private bus: fork failed");
    if (busPid_ == 0) {
      ::dup2(addressPipe[1], 3);
      int devnull = ::open("/dev/null", O_RDWR);
      ::dup2(devnull, 0);
      ::execl(kDbusDaemon, kDbusDaemon, confArg.c_str(), "--nofork", "--print-address=3",
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(addressPipe[1]);
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (line.find('\n') == std::string::npos) {
      pollfd p{addressPipe[0], POLLIN, 0};
      if (std::chrono::steady_clock::now() > deadline || ::poll(&p, 1, 200) < 0) break;
      if (!(p.revents & (POLLIN | POLLHUP))) continue;
      char buf[256];
      ssize_t n = ::read(addressPipe[0], buf, sizeof buf);
      if (n <= 0) break;
      line.append(buf, static_cast<size_t>(n));
    }
    ::close(addressPipe[0]);
    if (line.find('\n') == std::string::npos) throw std::runtime_error("private bus: dbus-daemon gave no address");
    address_ = line.substr(0, line.find('\n'));

    if (withKeyring) {
      int passwordPipe[2];
      if (::pipe2(passwordPipe, O_CLOEXEC) != 0) throw std::runtime_error("private bus: pipe");
      const std::string home = (dir / "home").string();
      const std::string run = (dir / "run").string();
      keyringPid_ = ::fork();
      if (keyringPid_ < 0) throw std::runtime_error("private bus: fork failed");
      if (keyringPid_ == 0) {
        ::dup2(passwordPipe[0], 0);
        int devnull = ::open("/dev/null", O_RDWR);
        ::dup2(devnull, 1);
        ::dup2(devnull, 2);
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
        ::setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
        ::unsetenv("DISPLAY");
        ::execl(kKeyringDaemon, kKeyringDaemon, "--foreground", "--unlock", "--components=secrets",
                static_cast<char*>(nullptr));
        ::_exit(127);
      }
      ::close(passwordPipe[0]);
      [[maybe_unused]] ssize_t n = ::write(passwordPipe[1], kKeyringPassword, std::strlen(kKeyringPassword));
      ::close(passwordPipe[1]);

      GDBusConnection* c = Connect(address_);
      bool owned = false;
      while (!(owned = NameHasOwner(c, "org.freedesktop.secrets"))) {
        int status = 0;
        if (std::chrono::steady_clock::now() > deadline || ::waitpid(keyringPid_, &status, WNOHANG) == keyringPid_) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      g_object_unref(c);
      if (!owned) throw std::runtime_error("private bus: the keyring daemon did not come up");
    }
  } catch (...) {
    Stop();
    throw;
  }
}

PrivateSessionBus::~PrivateSessionBus() { Stop(); }

void PrivateSessionBus::UseForThisProcess() const { ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1); }

void PrivateSessionBus::LockKeyring() {
  GDBusConnection* c = Connect(address_);
  GVariantBuilder objects;
  g_variant_builder_init(&objects, G_VARIANT_TYPE("ao"));
  g_variant_builder_add(&objects, "o", "/org/freedesktop/secrets/collection/login");
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(c, "org.freedesktop.secrets", "/org/freedesktop/secrets",
                                                "org.freedesktop.Secret.Service", "Lock",
                                                g_variant_new("(ao)", &objects), nullptr, G_DBUS_CALL_FLAGS_NONE,
                                                5000, nullptr, &error);
  g_object_unref(c);
  if (!reply) {
    std::string why = error ? error->message : "?";
    if (error) g_error_free(error);
    throw std::runtime_error("private bus: cannot lock the keyring: " + why);
  }
  g_variant_unref(reply);
}

void PrivateSessionBus::PauseKeyring() {
  if (keyringPid_ > 0 && ::kill(keyringPid_, SIGSTOP) == 0) paused_ = true;
}

void PrivateSessionBus::ResumeKeyring() {
  if (keyringPid_ > 0 && paused_) ::kill(keyringPid_, SIGCONT);
  paused_ = false;
}

void PrivateSessionBus::Stop() {
  StopChild(keyringPid_);
  StopChild(busPid_);
  paused_ = false;
  if (!dir_.empty()) {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
    dir_.clear();
  }
}

}  // namespace brevan::test
