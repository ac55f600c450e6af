#pragma once
// A real Dovecot POP3 server for tests, on loopback, with a configuration
// generated in a temporary folder: one passwd-file user, a maildir filled
// from the given messages, plain POP3 on a free high port (with STLS when
// asked) and, when asked and running as root, POP3 over TLS on 127.0.0.1:995
// with the test certificate. Dovecot runs in the foreground as our child with its own
// base, state and log folders, so it never touches a system Dovecot; Stop()
// (or the destructor) ends it by its process id and removes the folder.
//
//   if (auto why = brevan::test::DovecotServer::Unavailable(false); !why.empty()) GTEST_SKIP() << why;
//   brevan::test::DovecotOptions o;
//   o.messages = {"Subject: hi\n\nbody\n"};
//   brevan::test::DovecotServer dovecot(o);   // throws std::runtime_error
//   client.Port = dovecot.PlainPort();
//
// Tests using the TLS port hold the CTest RESOURCE_LOCK port995.
#include <sys/types.h>

#include <string>
#include <vector>

namespace brevan::test {

struct DovecotOptions {
  std::string user = "bob";
  std::string password = "secret";
  std::vector<std::string> messages;  // in order: message 1 first
  bool tls995 = false;
  // TLS on the plain port too: STLS offered (RFC 2595), and USER and PASS
  // refused before it. Dovecot takes a client whose address equals the
  // listening one for a secured one, so the plain port then listens on
  // 127.0.0.2, which loopback clients reach from 127.0.0.1.
  bool stlsOnPlain = false;
};

class DovecotServer {
 public:
  // Why a server with these options cannot run here, or "" when it can.
  static std::string Unavailable(bool tls995);

  explicit DovecotServer(const DovecotOptions& options);
  ~DovecotServer();
  DovecotServer(const DovecotServer&) = delete;
  DovecotServer& operator=(const DovecotServer&) = delete;

  int PlainPort() const { return plainPort_; }
  // Where the plain port listens: "127.0.0.1", or "127.0.0.2" with stlsOnPlain.
  const std::string& PlainAddress() const { return plainAddress_; }
  int TlsPort() const { return tlsPort_; }  // 995, or 0 without TLS
  pid_t Pid() const { return pid_; }
  std::string LogText() const;
  void Stop();

 private:
  std::string dir_;
  pid_t pid_ = -1;
  int plainPort_ = 0;
  std::string plainAddress_ = "127.0.0.1";
  int tlsPort_ = 0;
};

}  // namespace brevan::test
