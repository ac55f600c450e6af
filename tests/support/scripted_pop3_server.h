#pragma once
// An in-process POP3 server for tests, on loopback, plain or TLS, running
// on its own thread so the client under test may block on the test thread.
//
// Two ways to drive it:
//
// 1. Scripted: the test lists what the server does, step by step. Steps run
//    in order on the accepted connection; after a CloseConnection() or
//    ResetConnection() the steps that follow wait for the next connection.
//    Steps may be added before the client connects or while it runs.
//
//      brevan::test::ScriptedPop3Server server;        // ephemeral port
//      server.SendLine("+OK hello")
//            .AwaitCommand().SendLine("+OK user")       // answers the 1st line
//            .AwaitCommand().Send("+OK par").Delay(50).Send("tial\r\n")
//            .AwaitCommand().CloseConnection();
//      brevan::TIdTCPClient c;  c.Host = "127.0.0.1";  c.Port = server.Port();
//      ...
//      ASSERT_TRUE(server.WaitForCommands(3));
//      EXPECT_EQ(server.Commands()[0], "user bob");
//
// 2. Mailbox: a POP3 responder over a list of messages (RFC 1939): USER,
//    PASS, STAT, LIST, UIDL, TOP, RETR (dot-stuffed), DELE, NOOP, RSET,
//    CAPA (RFC 2449, when asked to), STLS (RFC 2595, when asked to), QUIT (which commits the deletions, kept
//    for later connections).
//    Faults can be injected at any step of a connection: step 0 is the
//    greeting, step k the reply to the k-th command line of that connection.
//
//      brevan::test::Pop3Mailbox box;
//      box.user = "bob"; box.password = "secret";
//      box.messages = {"Subject: hi\r\n\r\nbody\r\n"};
//      brevan::test::ScriptedPop3Server server;
//      server.ServeMailbox(box);
//      server.InjectFault(3, {brevan::test::Pop3Fault::Drop});
//
// Connections are served one at a time, in the order they arrive; a TLS
// server runs the handshake before anything else. Port() tells the port.
//
// In both modes every command line the client sent is recorded, in order,
// without its line end (Commands()), across all connections. Stop() (or the
// destructor) ends the server thread and closes every socket it opened.
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/test_tls.h"

namespace brevan::test {

struct Pop3Mailbox {
  std::string greeting = "+OK POP3 test server ready.";
  std::string user = "user";
  std::string password = "password";
  // Each message as the server holds it; bare LF line ends are taken as
  // CR LF, and sizes count CR LF line ends as RFC 1939 section 11 asks.
  std::vector<std::string> messages;
  // RFC 2449 CAPA: without it the server answers "-ERR" as to any unknown
  // command; with it, these lines (PIPELINING, say), at any time.
  bool answersCapa = false;
  std::vector<std::string> capabilities;
  // RFC 2595 STLS on a plain server: CAPA (answered then in any case) lists
  // STLS until TLS is up, and STLS switches to TLS showing this certificate.
  bool offersStls = false;
  TestCertificate stlsCertificate = TestCertificate::SelfSigned;
  // USER and PASS before TLS are refused, as a server that wants TLS does.
  bool refusesPlainLogin = false;
};

struct Pop3Fault {
  enum Kind {
    Drop,      // close the connection instead of answering
    Reset,     // abort it with a TCP reset (SO_LINGER 0)
    Error,     // answer "-ERR " + text instead
    Delay,     // wait delayMs, then answer normally
    Truncate,  // send the first half of the answer, then close
    Replace,   // send text (raw bytes, no line end added) instead
  };
  Kind kind = Drop;
  int delayMs = 0;
  std::string text = "injected failure";
};

class ScriptedPop3Server {
 public:
  enum class Mode { Plain, Tls };
  // Listens at once on address:port (0: an ephemeral port); the address is
  // a loopback literal, "127.0.0.1" or "::1" (then on IPv6 only). Throws
  // std::runtime_error when it cannot.
  explicit ScriptedPop3Server(Mode mode = Mode::Plain, int port = 0, const std::string& address = "127.0.0.1");
  // A TLS server on 127.0.0.1 showing the given test certificate.
  ScriptedPop3Server(int port, TestCertificate certificate);
  ~ScriptedPop3Server();
  ScriptedPop3Server(const ScriptedPop3Server&) = delete;
  ScriptedPop3Server& operator=(const ScriptedPop3Server&) = delete;

  int Port() const;
  void Stop();

  // ---- scripted mode
  ScriptedPop3Server& Send(std::string bytes);
  ScriptedPop3Server& SendLine(std::string line);  // line + CR LF
  // The bytes in pieces of chunk bytes with delayMs between pieces.
  ScriptedPop3Server& SendSplit(std::string bytes, size_t chunk, int delayMs);
  ScriptedPop3Server& Delay(int ms);
  // Until one more command line than the script has awaited so far has come.
  ScriptedPop3Server& AwaitCommand();
  // Until n command lines in all have come.
  ScriptedPop3Server& AwaitCommands(size_t n);
  // Orderly close (FIN); on TLS after a close notification unless
  // notify is false (a peer that just drops the stream).
  ScriptedPop3Server& CloseConnection(bool notify = true);
  ScriptedPop3Server& ResetConnection();  // abortive close (RST)
  ScriptedPop3Server& AwaitClientClose();
  // The server side of a TLS handshake on the open plain connection, as
  // after an agreed STLS; a failed handshake ends the connection.
  ScriptedPop3Server& StartTls(TestCertificate certificate = TestCertificate::SelfSigned);

  // ---- mailbox mode (set before the client connects)
  void ServeMailbox(const Pop3Mailbox& mailbox);
  void InjectFault(int step, const Pop3Fault& fault);  // fires once
  // The messages left after the last committed QUIT (numbering as given).
  std::vector<int> RemainingMessageNumbers() const;

  // ---- what happened (callable from any thread)
  std::vector<std::string> Commands() const;
  std::string ReceivedBytes() const;
  // Both directions in the order the server saw them: "C: " + each command
  // line as it was read, "S: " + the bytes of each write as it began.
  std::vector<std::string> Transcript() const;
  bool WaitForCommands(size_t n, int timeoutMs = 10000) const;
  bool WaitForScriptDone(int timeoutMs = 10000) const;
  // Until the client has closed (or the server has ended) connection number
  // `count` (1-based) .
  bool WaitForConnectionsEnded(int count, int timeoutMs = 10000) const;
  int ConnectionsAccepted() const;
  // TLS mode: the server name (SNI) each completed handshake carried, in
  // order of the connections; "" for a handshake without one.
  std::vector<std::string> ServerNamesReceived() const;

 private:
  ScriptedPop3Server(Mode mode, int port, const std::string& address, TestCertificate certificate);
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace brevan::test
