#pragma once
// One POP3 session of a window, without the window: the connection, where the
// dialogue stands, the connection number, what the server offers, what it
// still owes, and the values that belong to this window alone (the user name
// of the connect, the download folder's label, the activity tick). Each
// exchange returns what the window shows; the window never reads the server
// itself.
//
// Every read of the session goes through ReplyDrain (one status-line reader,
// one multi-line reader) or, for the listing and the download, through their
// own exchange objects, which are registered as owed while they run.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "keep/copy_then_delete.h"
#include "net/tcp_client.h"
#include "session/message_download.h"
#include "session/outstanding_exchange.h"
#include "session/pipelined_listing.h"
#include "session/pop3_exchanges.h"
#include "session/reply_drain.h"

namespace brevan {

enum class SessionState {
  Disconnected,
  Connecting,   // the connection is being made (TCP, TLS, the trust check)
  Authorizing,  // open: greeting, USER, PASS, CAPA
  Transaction,  // logged in
  Closing,      // a disconnect runs
};

// A message as the listing of one connection found it. The window's row i is
// the session's row i.
struct SessionRow {
  int Number = 0;      // the server's message number in that connection
  int Connection = 0;  // the connection whose listing made the row; 0: none
  std::string Size;    // the LIST line's size, as sent (untrusted)
  // The server's unique id of the message (UIDL, RFC 1939 section 7); empty
  // when the server offers none, or gave this one an unusable or repeated id.
  std::string Uid;
};

// What the window lends the session.
struct SessionHooks {
  std::function<void()> ProcessEvents;  // lets the window handle its pending events
  std::function<bool()> WindowClosing;  // true once the window began to close
  std::function<void()> StateChanged;   // the state (or the connection number) changed
  // Right after a TLS open, before anything is read: false when the user
  // refused the server's certificate (the connection is closed then).
  std::function<bool()> TrustCertificate;
  // A server once reached through TLS offers no STLS now: true when the
  // user wants the credentials sent in the clear all the same.
  std::function<bool()> ConfirmWithoutTls;
};

struct LoginRequest {
  std::string Server;
  int Port = 0;
  bool Tls = false;
  std::string User;
  std::string Password;
  // The file of servers seen with TLS (brevan.certs); empty: none is
  // looked up or remembered.
  std::string CertsPath;
};

enum class LoginEnd {
  Ignored,     // a connect is already under way
  OpenFailed,  // no connection could be made
  Refused,     // the server refused USER or PASS: Line says how
  StlsFailed,  // STLS was offered but refused, or its handshake failed:
               // no credentials went out, the connection is closed
  Ended,       // the connection went away, the certificate was refused, or
               // the window closed or disconnected: nothing to tell
  LoggedIn,
};
struct LoginResult {
  LoginEnd End = LoginEnd::Ended;
  std::string Line;  // the refusal's status line (untrusted)
};

enum class ExchangeEnd {
  Done,     // the reply came whole
  Refused,  // the server answered "-ERR" (or anything else): Line says how
  Ended,    // ended from outside (a disconnect, a closing window) or busy
};
struct PreviewResult {
  ExchangeEnd End = ExchangeEnd::Ended;
  std::string Line;
  std::string Text;  // the reply without its terminating line, as sent
};
struct DownloadResult {
  ExchangeEnd End = ExchangeEnd::Ended;
  std::string Line;
  bool FolderMade = false;  // the folder did not exist and was made for this
};

struct CloseResult {
  // A long reply was still coming when the disconnect came: the connection
  // was dropped without "quit", and the marked messages were looked for by
  // their unique ids on a fresh connection. Deletion tells each one's fate.
  bool Reopened = false;
  bool Unconfirmed = false;   // a reply did not come in time: nothing more was sent
  std::string Failure;        // the connection failed (its error text)
  std::vector<int> Deleted;   // message numbers whose "dele" the server confirmed
  bool Kept = false;          // copies were kept before the deletions
  CopyThenDeleteResult Deletion;  // each marked message's outcome
};

class Pop3Session {
 public:
  Pop3Session();
  ~Pop3Session();
  Pop3Session(const Pop3Session&) = delete;
  Pop3Session& operator=(const Pop3Session&) = delete;

  void SetHooks(SessionHooks hooks) { hooks_ = std::move(hooks); }

  TIdTCPClient& Connection() { return connection_; }
  RawReplySource& Source() { return source_; }
  SessionState State() const { return state_; }
  // Open at least far enough for a disconnect to have something to do.
  bool Connected() const {
    return state_ == SessionState::Authorizing || state_ == SessionState::Transaction ||
           state_ == SessionState::Closing;
  }
  // Every successful open starts a new connection number.
  int ConnectionId() const { return connectionId_; }
  // The server declared PIPELINING in its CAPA reply.
  bool Pipelining() const { return pipelining_; }
  const std::vector<std::string>& Capabilities() const { return capabilities_; }

  // This window's values.
  const std::string& UserName() const { return userName_; }
  // user + "(" + server + ")" of this window's last successful open.
  const std::string& DownloadLabel() const { return downloadLabel_; }
  void SetDownloadLabel(std::string label) { downloadLabel_ = std::move(label); }
  uint32_t ActivityTick() const { return activityTick_; }
  void NoteActivity();

  // ---- rows ----
  const std::vector<SessionRow>& Rows() const { return rows_; }
  // Sets row index (rows before it that do not exist yet get their position
  // + 1 as their number and no connection).
  void SetRow(int index, SessionRow row);
  SessionRow Row(int index) const;
  // Numbers of the rows of the connection now open among the given row
  // indexes, in the order given.
  std::vector<int> DeletableNumbers(const std::vector<int>& rowIndexes) const;

  // ---- one exchange at a time ----
  bool Busy() const { return exchangeDepth_ > 0; }
  OutstandingExchange* Outstanding() const { return outstanding_; }

  // ---- exchanges ----
  // Opens the connection and logs in: greeting, USER, PASS, CAPA.
  LoginResult LogIn(const LoginRequest& request);
  // The header listing; the rows are replaced by this connection's.
  PipelinedListing::End List(const std::vector<std::string>& rules, ListingSteps steps);
  // "top number 100".
  PreviewResult Preview(int number);
  // "retr number" into a file in folder (made when missing).
  DownloadResult Download(int number, MessageDownload& download, const std::string& folder,
                          const RawReplyEvents& events);
  // A NOOP when nothing has been said for longer than idleMs and no
  // exchange waits. Transport failures raise.
  void KeepAlive(uint32_t idleMs);
  // The disconnect: finishes what is owed, keeps a copy of each marked
  // message in keptFolder (none when it is empty) and sends its "dele" (in
  // the order given), then "quit", and closes. When a long reply (a
  // message, a preview, the listing) is still owed, it is not waited for:
  // the connection is dropped without "quit", so the server commits
  // nothing, and the marked messages are deleted on a fresh connection,
  // found again by their unique ids.
  CloseResult Close(std::vector<MarkedMessage> marked, const std::string& keptFolder, CopySteps steps);
  // The same without copies.
  CloseResult Close(const std::vector<int>& numbers);
  // Closes the connection without a word.
  void Drop();

  // The bounds of a disconnect: each reply, and all of it once the window
  // closes (BoundForClose).
  static constexpr std::chrono::milliseconds kReplyBound{30000};
  static constexpr std::chrono::milliseconds kCloseBound{10000};
  // The CAPA reply may take this long before the connection is given up.
  static constexpr std::chrono::milliseconds kCapaBound{10000};
  void SetCapaBound(std::chrono::milliseconds bound) { capaBound_ = bound; }
  std::chrono::milliseconds ReplyBound() const { return replyBound_; }
  std::chrono::milliseconds CloseBoundValue() const { return closeBound_; }
  void SetBounds(std::chrono::milliseconds reply, std::chrono::milliseconds close) {
    replyBound_ = reply;
    closeBound_ = close;
  }
  // A close while a disconnect runs: what is left of it ends within the
  // close's bound. True when the bound was shortened.
  bool BoundForClose();

  // Counting helpers for the exchange scopes below.
  friend class SessionExchange;
  friend class SessionOwed;

 private:
  // The login's steps, in order; each false when the login ends there.
  // Between GreetingStep and the USER command is where a step that must
  // come before the credentials goes.
  bool OpenStep(const LoginRequest& request, LoginResult& result);
  bool GreetingStep();
  // On a connection that did not begin in TLS: CAPA, and STLS wherever the
  // server offers it, before a user name or password goes out.
  bool StlsStep(const LoginRequest& request, LoginResult& result);
  bool CapabilityStep();
  // The deletion of a disconnect that dropped its connection: a fresh login
  // with this window's last credentials, UIDL, and the marked messages
  // found there by their ids.
  CloseResult DeleteOnFreshConnection(std::vector<MarkedMessage> marked, const std::string& keptFolder,
                                      CopySteps steps);
  // Keeps a copy of each marked message (none when keptFolder is empty)
  // and deletes it, each reply within the disconnect's bounds.
  CopyThenDeleteResult RunDeletion(std::vector<MarkedMessage> marked, const std::string& keptFolder,
                                   CopySteps steps);
  // A deletion that left its connection unusable: no reply in time, or the
  // connection's failure.
  static void TakeConnectionEnd(const CopyThenDeleteResult& deletion, CloseResult& result);
  // Opens and logs in again for DeleteOnFreshConnection; false when that
  // failed or the server is not the one the window was connected to.
  bool Reopen();
  // How long a login step may wait: without end for the user's connect
  // (the user ends it), each reply's bound when a disconnect reopens.
  Deadline LoginDeadline() const;

  // Sends a command and reads its status line through the one reader,
  // telling tracked what is owed meanwhile. False when the exchange was
  // ended from outside, or the deadline passed (the connection is dropped
  // then). Transport failures raise.
  bool Command(TrackedExchange& tracked, const std::string& command, bool multiLine, std::string& status,
               Deadline deadline);
  Deadline StepDeadline() const;
  bool Ended(const OutstandingExchange& exchange) const;
  bool WindowClosing() const { return hooks_.WindowClosing && hooks_.WindowClosing(); }
  void SetState(SessionState state);
  void ConnectionClosed();

  TIdTCPClient connection_;
  ConnectionReplySource source_{connection_};
  SessionHooks hooks_;
  SessionState state_ = SessionState::Disconnected;
  int connectionId_ = 0;
  bool pipelining_ = false;
  std::vector<std::string> capabilities_;
  std::vector<SessionRow> rows_;
  std::vector<std::string> uids_;  // by message number - 1, of the listing in progress
  LoginRequest login_;             // the last login's request, for a fresh connection
  std::string tlsFingerprint_;     // the certificate of the last login, when in TLS
  bool reopening_ = false;         // a disconnect logs in again: the window's close does not end it
  std::string userName_;
  std::string downloadLabel_;
  uint32_t activityTick_ = 0;
  int exchangeDepth_ = 0;
  OutstandingExchange* outstanding_ = nullptr;
  Deadline closeDeadline_ = Deadline::max();
  std::chrono::milliseconds replyBound_ = kReplyBound;
  std::chrono::milliseconds closeBound_ = kCloseBound;
  std::chrono::milliseconds capaBound_ = kCapaBound;
};

// Marks one command exchange on the session's connection while it lives.
class SessionExchange {
 public:
  explicit SessionExchange(Pop3Session& session) : session_(session) { ++session_.exchangeDepth_; }
  ~SessionExchange() { --session_.exchangeDepth_; }
  SessionExchange(const SessionExchange&) = delete;
  SessionExchange& operator=(const SessionExchange&) = delete;

 private:
  Pop3Session& session_;
};

// Registers the exchange whose replies are owed while it lives; the previous
// registration comes back at its end.
class SessionOwed {
 public:
  SessionOwed(Pop3Session& session, OutstandingExchange& exchange)
      : session_(session), previous_(session.outstanding_) {
    session_.outstanding_ = &exchange;
  }
  ~SessionOwed() { session_.outstanding_ = previous_; }
  SessionOwed(const SessionOwed&) = delete;
  SessionOwed& operator=(const SessionOwed&) = delete;

 private:
  Pop3Session& session_;
  OutstandingExchange* previous_;
};

}  // namespace brevan
