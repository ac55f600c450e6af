#pragma once
// A private D-Bus session bus for tests, optionally with a GNOME Keyring
// daemon on it, in a temporary folder of its own. The bus has no service
// folders, so nothing is ever started on it by activation: without the
// keyring daemon it is a session bus where no Secret Service answers. Both
// run as our children and are stopped by their process ids.
//
//   if (auto why = PrivateSessionBus::Unavailable(true); !why.empty()) GTEST_SKIP() << why;
//   PrivateSessionBus bus(true);   // throws std::runtime_error
//   bus.UseForThisProcess();       // before the process first talks to a session bus
#include <sys/types.h>

#include <string>

namespace brevan::test {

class PrivateSessionBus {
 public:
  // Why such a bus cannot run here, or "" when it can.
  static std::string Unavailable(bool withKeyring);

  explicit PrivateSessionBus(bool withKeyring);
  ~PrivateSessionBus();
  PrivateSessionBus(const PrivateSessionBus&) = delete;
  PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

  const std::string& Address() const { return address_; }
  pid_t BusPid() const { return busPid_; }
  pid_t KeyringPid() const { return keyringPid_; }

  // Sets DBUS_SESSION_BUS_ADDRESS of this process to the bus. GLib keeps the
  // session bus it found first, so this must come before any keyring call.
  void UseForThisProcess() const;

  // Locks the keyring's login collection: with no prompter on this bus, it
  // stays locked.
  void LockKeyring();
  // Stops and continues the keyring daemon (SIGSTOP, SIGCONT): calls to it
  // then go unanswered, as to a keyring waiting for the user.
  void PauseKeyring();
  void ResumeKeyring();

  void Stop();

 private:
  std::string dir_;
  std::string address_;
  pid_t busPid_ = -1;
  pid_t keyringPid_ = -1;
  bool paused_ = false;
};

}  // namespace brevan::test
