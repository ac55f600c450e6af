#include "session/pop3_session.h"

#include <exception>

#include "accounts/cert_store.h"
#include "common/file_io.h"
#include "common/tick.h"
#include "common/trim.h"
#include "session/reply_drain.h"
#include "session/stls_negotiation.h"
#include "session/unique_ids.h"

namespace brevan {

namespace {

// How long the greeting's further lines may lag behind each other.
constexpr int kGreetingLagMs = 1000;

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && AsciiLower(text.substr(0, prefix.size())) == AsciiLower(prefix);
}

}  // namespace

Pop3Session::Pop3Session() {
  connection_.OnDisconnected = [this] { ConnectionClosed(); };
}

Pop3Session::~Pop3Session() {
  // The connection is released without a word to the server, and its close
  // must not reach a window that is going away.
  connection_.OnDisconnected = nullptr;
}

void Pop3Session::NoteActivity() { activityTick_ = TickCount(); }

void Pop3Session::SetState(SessionState state) {
  if (state_ == state) return;
  state_ = state;
  if (hooks_.StateChanged) hooks_.StateChanged();
}

void Pop3Session::ConnectionClosed() {
  // The connect closes and reopens under its own state; a disconnect ends
  // in its own time.
  if (state_ == SessionState::Authorizing || state_ == SessionState::Transaction) {
    SetState(SessionState::Disconnected);
  } else if (hooks_.StateChanged) {
    hooks_.StateChanged();
  }
}

void Pop3Session::Drop() {
  try {
    connection_.Close();
  } catch (...) {
  }
  if (state_ != SessionState::Closing) SetState(SessionState::Disconnected);
}

bool Pop3Session::Ended(const OutstandingExchange& exchange) const {
  // The fresh login of a disconnect runs within the disconnect's own bounds,
  // whether or not the window closes meanwhile.
  return exchange.Finished() || (!reopening_ && WindowClosing());
}

Deadline Pop3Session::LoginDeadline() const { return reopening_ ? StepDeadline() : Deadline::max(); }

// ---- rows ----

void Pop3Session::SetRow(int index, SessionRow row) {
  if (index < 0) return;
  while (static_cast<int>(rows_.size()) <= index) rows_.push_back({static_cast<int>(rows_.size()) + 1, 0, {}, {}});
  rows_[static_cast<size_t>(index)] = std::move(row);
}

SessionRow Pop3Session::Row(int index) const {
  if (index < 0 || index >= static_cast<int>(rows_.size())) return {};
  return rows_[static_cast<size_t>(index)];
}

std::vector<int> Pop3Session::DeletableNumbers(const std::vector<int>& rowIndexes) const {
  std::vector<int> numbers;
  if (connectionId_ == 0) return numbers;
  for (int index : rowIndexes) {
    const SessionRow row = Row(index);
    if (row.Connection == connectionId_ && row.Number > 0) numbers.push_back(row.Number);
  }
  return numbers;
}

// ---- the login ----

LoginResult Pop3Session::LogIn(const LoginRequest& request) {
  LoginResult result;
  // The connect services the windows while it waits, so a second click (or
  // a close) can come in the middle of it: the second click does nothing.
  if (state_ == SessionState::Connecting) {
    result.End = LoginEnd::Ignored;
    return result;
  }
  if (!OpenStep(request, result)) return result;

  SessionExchange exchange(*this);
  // A disconnect in the middle of the login finishes the reply awaited (or
  // abandons it) and closes the connection under the waiting read; the
  // login then ends quietly.
  TrackedExchange login(source_);
  SessionOwed owed(*this, login);
  try {
    if (!GreetingStep()) return result;
    if (!request.Tls && !StlsStep(request, result)) return result;
    std::string status;
    for (const std::string& command : {"user " + userName_, "pass " + request.Password}) {
      if (!Command(login, command, false, status, LoginDeadline())) return result;
      if (!IsPositiveStatus(status)) {
        result.End = LoginEnd::Refused;
        result.Line = status;
        Drop();
        return result;
      }
    }
    if (!CapabilityStep()) return result;
  } catch (...) {
    // The connection failed or went away during the login: nothing to tell.
    if (state_ == SessionState::Authorizing) Drop();
    return result;
  }
  if (state_ != SessionState::Authorizing || WindowClosing()) return result;
  login_ = request;
  tlsFingerprint_ = connection_.TlsActive() ? connection_.CheckTlsPeer().Fingerprint : std::string();
  SetState(SessionState::Transaction);
  result.End = LoginEnd::LoggedIn;
  return result;
}

bool Pop3Session::OpenStep(const LoginRequest& request, LoginResult& result) {
  if (connection_.IsOpen()) Drop();
  pipelining_ = false;
  capabilities_.clear();
  // This window's user: what goes out as USER is what was typed into this
  // window when its connect began, whatever another window does meanwhile.
  userName_ = request.User;
  connection_.Host = request.Server;
  connection_.Port = request.Port;
  connection_.UseTls = request.Tls;
  SetState(SessionState::Connecting);
  auto tryOpen = [this] {
    try {
      connection_.Open();
      return true;
    } catch (const std::exception&) {
      return false;
    }
  };
  bool opened = tryOpen();
  if (!opened && request.Tls && !WindowClosing()) {
    // A failed handshake may leave its socket behind; start clean once.
    try {
      connection_.Close();
    } catch (...) {
    }
    opened = tryOpen();
  }
  if (WindowClosing()) {
    // The window was closed while the connection was being made.
    try {
      connection_.Close();
    } catch (...) {
    }
    SetState(SessionState::Disconnected);
    return false;
  }
  if (!opened) {
    SetState(SessionState::Disconnected);
    result.End = LoginEnd::OpenFailed;
    return false;
  }
  if (request.Tls && hooks_.TrustCertificate && !hooks_.TrustCertificate()) {
    // Refused: the connection ends here, before the greeting is even read.
    try {
      connection_.Close();
    } catch (...) {
    }
    SetState(SessionState::Disconnected);
    return false;
  }
  ++connectionId_;
  NoteActivity();
  downloadLabel_ = request.User + "(" + request.Server + ")";
  SetState(SessionState::Authorizing);
  return true;
}

bool Pop3Session::GreetingStep() {
  // RFC 1939 section 4: a greeting that begins "+OK" is one line, and the
  // first command follows it at once. After any other first line, the lines
  // that follow within a second of each other all belong to the greeting.
  auto* login = outstanding_;
  std::string first;
  auto readLine = [&](std::string* line) {
    ReplyDrain reader(source_);
    const DrainEnd end = reader.StatusLine(LoginDeadline(), line);
    if (login && Ended(*login)) return false;
    if (end != DrainEnd::Done) throw NetError(reader.Error());
    return true;
  };
  if (!readLine(&first)) return false;
  if (first.compare(0, 3, "+OK") == 0) return true;
  for (;;) {
    if (source_.BufferedByteCount() == 0) {
      try {
        source_.WaitForData(kGreetingLagMs);
      } catch (...) {
      }
      if (login && Ended(*login)) return false;
      if (source_.BufferedByteCount() == 0) return true;
    }
    if (!readLine(nullptr)) return false;
  }
}

bool Pop3Session::StlsStep(const LoginRequest& request, LoginResult& result) {
  auto* login = static_cast<TrackedExchange*>(outstanding_);
  StlsOptions options;
  options.seenWithTls =
      !request.CertsPath.empty() && ServerSeenWithTls(request.CertsPath, request.Server, request.Port);
  options.trust = [this] { return !hooks_.TrustCertificate || hooks_.TrustCertificate(); };
  options.stop = [this] { return WindowClosing(); };
  options.exchange = login;
  options.capaBound = capaBound_;
  const StlsNegotiation stls = NegotiateStls(connection_, options);
  auto closeQuietly = [this] {
    if (state_ == SessionState::Authorizing) Drop();
  };
  switch (stls.outcome) {
    case StlsOutcome::Secured:
      if (!request.CertsPath.empty()) RememberServerSeenWithTls(request.CertsPath, request.Server, request.Port);
      return !Ended(*login);
    case StlsOutcome::NotOffered:
      return !Ended(*login);
    case StlsOutcome::Downgraded:
      // What an attacker who strips STLS looks like: the user decides,
      // before a word more goes out.
      if (!hooks_.ConfirmWithoutTls || !hooks_.ConfirmWithoutTls()) {
        closeQuietly();
        return false;
      }
      return !Ended(*login) && state_ == SessionState::Authorizing;
    case StlsOutcome::Refused:
    case StlsOutcome::HandshakeFailed:
      closeQuietly();
      if (!Ended(*login)) result.End = LoginEnd::StlsFailed;
      return false;
    case StlsOutcome::Untrusted:
      closeQuietly();
      return false;
    case StlsOutcome::Ended:
      return false;
  }
  return false;
}

bool Pop3Session::CapabilityStep() {
  // RFC 2449: asked once per connection; only a server that declares
  // PIPELINING gets the listing's commands ahead of their replies. The reply
  // is awaited capaBound_ at most: a server whose reply never ends loses the
  // connection, so none of its later bytes is ever taken for another reply.
  auto* login = static_cast<TrackedExchange*>(outstanding_);
  const Deadline deadline = std::chrono::steady_clock::now() + capaBound_;
  std::string status;
  if (!Command(*login, "capa", true, status, deadline)) return false;
  // A server without CAPA answers "-ERR" and no lines follow. One that
  // answers "+ok" is not taken at its word, but its lines are read all the
  // same: left unread, they would be taken for the next command's reply.
  if (!StartsWithNoCase(status, "+OK")) {
    login->Received();
    return true;
  }
  login->AwaitBody(nullptr);
  std::vector<std::string> lines;
  DrainEnd end;
  std::string error;
  {
    ReplyDrain reader(source_);
    end = reader.Lines(deadline, lines, false);
    error = reader.Error();
  }
  if (Ended(*login)) return false;
  if (end == DrainEnd::TimedOut) {
    Drop();
    return false;
  }
  if (end == DrainEnd::Failed) throw NetError(error);
  login->Received();
  capabilities_ = lines;
  pipelining_ = IsPositiveStatus(status) && CapabilitiesOfferPipelining(lines);
  return true;
}

bool Pop3Session::Command(TrackedExchange& tracked, const std::string& command, bool multiLine, std::string& status,
                          Deadline deadline) {
  tracked.AwaitStatus(multiLine);
  connection_.WriteLine(command);
  if (Ended(tracked)) return false;
  DrainEnd end;
  std::string error;
  {
    ReplyDrain reader(source_);
    end = reader.StatusLine(deadline, &status);
    error = reader.Error();
  }
  if (Ended(tracked)) return false;
  if (end == DrainEnd::TimedOut) {
    // Whatever comes later can no longer be told from the next reply.
    Drop();
    return false;
  }
  if (end == DrainEnd::Failed) throw NetError(error);
  if (!multiLine || !IsPositiveStatus(status)) tracked.Received();
  return true;
}

// ---- the listing ----

PipelinedListing::End Pop3Session::List(const std::vector<std::string>& rules, ListingSteps steps) {
  SessionExchange exchange(*this);
  rows_.clear();
  uids_.clear();
  const int connection = connectionId_;
  std::vector<std::string> listLines;
  auto listed = std::move(steps.Listed);
  steps.Listed = [&listLines, listed](const std::vector<std::string>& lines) {
    listLines = lines;
    if (listed) listed(lines);
  };
  auto started = std::move(steps.MessageStarted);
  steps.MessageStarted = [this, &listLines, connection, started](int number) {
    const std::string uid = static_cast<size_t>(number) <= uids_.size() ? uids_[static_cast<size_t>(number - 1)] : "";
    rows_.push_back({number, connection, ListLineSize(listLines[static_cast<size_t>(number - 1)]), uid});
    if (started) started(number);
  };
  auto sent = std::move(steps.CommandsSent);
  steps.CommandsSent = [this, sent] {
    NoteActivity();
    if (sent) sent();
  };
  auto uids = std::move(steps.UidsTaken);
  steps.UidsTaken = [this, &listLines, uids](const std::vector<std::string>& lines) {
    uids_ = UidsByNumber(lines, static_cast<int>(listLines.size()));
    if (uids) uids(lines);
  };
  if (!steps.Stop) steps.Stop = [this] { return WindowClosing(); };
  PipelinedListing listing(connection_, pipelining_, rules, std::move(steps), CapabilitiesOfferUidl(capabilities_));
  SessionOwed owed(*this, listing);
  return listing.Run();
}

// ---- preview and download ----

PreviewResult Pop3Session::Preview(int number) {
  PreviewResult result;
  SessionExchange exchange(*this);
  TrackedExchange preview(source_);
  SessionOwed owed(*this, preview);
  NoteActivity();
  try {
    if (!Command(preview, "top " + std::to_string(number) + " 100", true, result.Line, Deadline::max()))
      return result;
    if (!IsPositiveStatus(result.Line)) {
      result.End = ExchangeEnd::Refused;
      return result;
    }
    preview.AwaitBody(nullptr);
    std::vector<std::string> lines;
    DrainEnd end;
    std::string error;
    {
      ReplyDrain reader(source_);
      end = reader.Lines(Deadline::max(), lines, false);
      error = reader.Error();
    }
    if (Ended(preview)) return result;
    if (end != DrainEnd::Done) throw NetError(error);
    preview.Received();
    for (size_t i = 0; i < lines.size(); ++i) {
      if (i > 0) result.Text += "\r\n";
      result.Text += lines[i];
    }
  } catch (...) {
    // A disconnect took the reply and closed the connection: no news.
    if (Ended(preview)) return result;
    throw;
  }
  result.End = ExchangeEnd::Done;
  return result;
}

DownloadResult Pop3Session::Download(int number, MessageDownload& download, const std::string& folder,
                                     const RawReplyEvents& events) {
  DownloadResult result;
  SessionExchange exchange(*this);
  // From the command on, the server owes the reply: a disconnect in the
  // meantime finishes this download before it sends anything.
  SessionOwed owed(*this, download);
  NoteActivity();
  try {
    connection_.WriteLine("retr " + std::to_string(number));
    if (Ended(download)) return result;
    DrainEnd end;
    std::string error;
    {
      ReplyDrain reader(source_);
      end = reader.StatusLine(Deadline::max(), &result.Line);
      error = reader.Error();
    }
    if (Ended(download)) return result;
    if (end != DrainEnd::Done) throw NetError(error);
  } catch (...) {
    if (Ended(download)) return result;
    throw;
  }
  const bool accepted = IsPositiveStatus(result.Line);
  download.StatusRead(accepted);
  if (!accepted) {
    result.End = ExchangeEnd::Refused;
    return result;
  }
  if (!DirectoryExists(folder)) result.FolderMade = ForceDirectories(folder);
  // A folder that cannot be written is told after the read: the server
  // sends the message all the same, and it must be read to its end.
  download.Open(folder);
  RawReplyEvents hooks = events;
  hooks.Activity = [this, activity = events.Activity] {
    NoteActivity();
    if (activity) activity();
  };
  if (!hooks.Stop) hooks.Stop = [this] { return WindowClosing(); };
  if (download.Read(hooks) != RawReplyEnd::Complete || WindowClosing()) return result;
  result.End = ExchangeEnd::Done;
  return result;
}

// ---- keep-alive ----

void Pop3Session::KeepAlive(uint32_t idleMs) {
  // Another exchange is waiting for its reply: a NOOP now would take that
  // reply for its own. The waiting exchange is activity enough.
  if (Busy()) return;
  // The tick wraps after 49.7 days; the difference of two unsigned 32-bit
  // ticks is the elapsed time across the wrap as well.
  const uint32_t idle = TickCount() - activityTick_;
  if (idle <= idleMs || !connection_.IsOpen()) return;
  SessionExchange exchange(*this);
  TrackedExchange noop(source_);
  SessionOwed owed(*this, noop);
  std::string status;
  try {
    Command(noop, "noop", false, status, Deadline::max());
  } catch (...) {
    // A disconnect took the reply and closed the connection: no news.
    if (Ended(noop)) return;
    throw;
  }
}

// ---- the disconnect ----

Deadline Pop3Session::StepDeadline() const {
  return std::min(closeDeadline_, std::chrono::steady_clock::now() + replyBound_);
}

bool Pop3Session::BoundForClose() {
  const Deadline end = std::chrono::steady_clock::now() + closeBound_;
  if (end >= closeDeadline_) return false;
  closeDeadline_ = end;
  return true;
}

CopyThenDeleteResult Pop3Session::RunDeletion(std::vector<MarkedMessage> marked, const std::string& keptFolder,
                                              CopySteps steps) {
  // Each message is kept first (unless keptFolder is empty): its copy is
  // whole on the disk before its "dele" goes.
  auto sent = std::move(steps.CommandsSent);
  steps.CommandsSent = [this, sent] {
    NoteActivity();
    if (sent) sent();
  };
  CopyThenDelete driver(connection_, pipelining_, keptFolder, std::move(marked), std::move(steps));
  const auto untilClose =
      std::chrono::duration_cast<std::chrono::milliseconds>(closeDeadline_ - std::chrono::steady_clock::now());
  driver.SetReplyBound(closeDeadline_ == Deadline::max()
                           ? replyBound_
                           : std::max(std::chrono::milliseconds(1), std::min(replyBound_, untilClose)));
  return driver.Run();
}

void Pop3Session::TakeConnectionEnd(const CopyThenDeleteResult& deletion, CloseResult& result) {
  if (deletion.connectionUsable) return;
  if (deletion.error.empty()) {
    result.Unconfirmed = true;
  } else {
    result.Failure = deletion.error;
  }
}

CloseResult Pop3Session::Close(const std::vector<int>& numbers) {
  std::vector<MarkedMessage> marked;
  for (int number : numbers) marked.push_back({number, {}});
  return Close(std::move(marked), {}, {});
}

CloseResult Pop3Session::Close(std::vector<MarkedMessage> marked, const std::string& keptFolder, CopySteps steps) {
  CloseResult result;
  const bool otherExchange = Busy();
  OutstandingExchange* owedExchange = outstanding_;
  SetState(SessionState::Closing);
  struct CloseEnds {
    Pop3Session& session;
    ~CloseEnds() {
      session.closeDeadline_ = Deadline::max();
      session.SetState(SessionState::Disconnected);
    }
  } closeEnds{*this};
  NoteActivity();
  {
    SessionExchange exchange(*this);
    if (marked.empty()) {
      // Nothing to delete: whatever is owed is left unread.
      if (owedExchange) owedExchange->Abandon();
    } else if (owedExchange && owedExchange->OwesLongReply()) {
      // Waiting for the rest of a message (or of the listing) would keep the
      // user waiting for what nobody wants any more. The connection goes
      // without "quit", so the server commits nothing of it.
      owedExchange->Abandon();
      try {
        connection_.Close();
      } catch (...) {
      }
      return DeleteOnFreshConnection(std::move(marked), keptFolder, std::move(steps));
    } else {
      // No "dele" while another reply is owed: it would be taken for the
      // owed reply's, or the other's for it. An exchange that does not say
      // what it owes cannot be finished, so nothing is deleted.
      const bool clear = owedExchange ? owedExchange->Finish(StepDeadline()) : !otherExchange;
      if (!clear) {
        result.Unconfirmed = true;
      } else {
        result.Kept = !keptFolder.empty();
        result.Deletion = RunDeletion(std::move(marked), keptFolder, std::move(steps));
        result.Deleted = result.Deletion.Deleted();
        TakeConnectionEnd(result.Deletion, result);
      }
    }
    // After a reply that did not come nothing more is sent.
    if (!result.Unconfirmed && result.Failure.empty()) {
      try {
        connection_.WriteLine("quit");
      } catch (const std::exception& e) {
        result.Failure = e.what();
      }
    }
  }
  try {
    connection_.Close();
  } catch (...) {
  }
  return result;
}

// ---- the deletion on a fresh connection ----

bool Pop3Session::Reopen() {
  connection_.Host = login_.Server;
  connection_.Port = login_.Port;
  connection_.UseTls = login_.Tls;
  // The certificate must be the one the user's connection showed: nobody is
  // asked about another in the middle of a disconnect.
  auto sameServer = [this] {
    const TlsPeerCheck peer = connection_.CheckTlsPeer();
    return tlsFingerprint_.empty() ? peer.Verified : peer.Fingerprint == tlsFingerprint_;
  };
  try {
    connection_.Open();
  } catch (const std::exception&) {
    return false;
  }
  if (login_.Tls && !sameServer()) return false;
  TrackedExchange login(source_);
  SessionOwed owed(*this, login);
  if (!GreetingStep()) return false;
  if (!login_.Tls) {
    StlsOptions options;
    options.seenWithTls = !tlsFingerprint_.empty();
    options.trust = sameServer;
    options.exchange = &login;
    options.capaBound = capaBound_;
    const StlsOutcome outcome = NegotiateStls(connection_, options).outcome;
    // A server that offered TLS to the user's connection and none now is
    // not given the password in the clear.
    if (outcome != StlsOutcome::Secured && outcome != StlsOutcome::NotOffered) return false;
    if (Ended(login)) return false;
  }
  std::string status;
  for (const std::string& command : {"user " + login_.User, "pass " + login_.Password}) {
    if (!Command(login, command, false, status, LoginDeadline()) || !IsPositiveStatus(status)) return false;
  }
  return CapabilityStep();
}

CloseResult Pop3Session::DeleteOnFreshConnection(std::vector<MarkedMessage> marked, const std::string& keptFolder,
                                                 CopySteps steps) {
  CloseResult result;
  result.Reopened = true;
  // Each marked message by its id from the user's listing; without one it
  // cannot be told from the others on another connection.
  std::vector<std::string> ids;
  std::vector<size_t> wanted;
  for (const MarkedMessage& message : marked) {
    std::string id;
    for (const SessionRow& row : rows_)
      if (row.Connection == connectionId_ && row.Number == message.number) id = row.Uid;
    const size_t index = result.Deletion.messages.size();
    result.Deletion.messages.push_back(
        {message.number, message.subject, id.empty() ? StayReason::NoUniqueId : StayReason::Stopped, {}});
    if (!id.empty()) wanted.push_back(index);
    ids.push_back(std::move(id));
  }
  auto stayed = [&](StayReason reason) {
    for (size_t index : wanted) result.Deletion.messages[index].reason = reason;
  };
  auto closeQuietly = [this] {
    try {
      connection_.Close();
    } catch (...) {
    }
  };
  if (wanted.empty()) return result;
  if (steps.Stop && steps.Stop()) return result;
  struct Reopening {
    bool& flag;
    ~Reopening() { flag = false; }
  } reopening{reopening_ = true};

  bool reopened = false;
  try {
    reopened = Reopen();
  } catch (...) {
  }
  if (!reopened) {
    closeQuietly();
    stayed(StayReason::NotReopened);
    return result;
  }
  if (steps.Stop && steps.Stop()) {
    // Cancelled while the login ran: nothing is deleted.
    try {
      connection_.WriteLine("quit");
    } catch (...) {
    }
    closeQuietly();
    return result;
  }

  // The ids now, each with its number on this connection.
  std::unordered_map<std::string, int> numbers;
  {
    SessionExchange exchange(*this);
    TrackedExchange uidl(source_);
    SessionOwed owed(*this, uidl);
    std::string status;
    std::vector<std::string> lines;
    DrainEnd end = DrainEnd::Failed;
    bool refused = false;
    try {
      if (Command(uidl, "uidl", true, status, StepDeadline())) {
        refused = !IsPositiveStatus(status);
        if (!refused) {
          uidl.AwaitBody(nullptr);
          ReplyDrain reader(source_);
          end = reader.Lines(StepDeadline(), lines, false);
        }
      }
    } catch (...) {
    }
    if (refused) {
      // The server offered UIDL to the user's connection, not to this one.
      stayed(StayReason::NoUniqueId);
      try {
        connection_.WriteLine("quit");
      } catch (...) {
      }
      closeQuietly();
      return result;
    }
    if (end != DrainEnd::Done) {
      closeQuietly();
      stayed(StayReason::NotReopened);
      return result;
    }
    uidl.Received();
    numbers = NumbersByUid(lines);
  }
  std::vector<MarkedMessage> found;
  std::vector<size_t> foundIndex;
  for (size_t index : wanted) {
    const auto at = numbers.find(ids[index]);
    if (at == numbers.end() || at->second <= 0) {
      result.Deletion.messages[index].reason = StayReason::Gone;
      continue;
    }
    found.push_back({at->second, result.Deletion.messages[index].subject});
    foundIndex.push_back(index);
  }

  if (!found.empty()) {
    SessionExchange exchange(*this);
    result.Kept = !keptFolder.empty();
    const CopyThenDeleteResult deletion = RunDeletion(std::move(found), keptFolder, std::move(steps));
    // Each outcome under the number the user's listing gave its message.
    for (size_t k = 0; k < foundIndex.size(); ++k) {
      MessageOutcome outcome = deletion.messages[k];
      outcome.number = result.Deletion.messages[foundIndex[k]].number;
      result.Deletion.messages[foundIndex[k]] = std::move(outcome);
    }
    result.Deletion.connectionUsable = deletion.connectionUsable;
    result.Deletion.error = deletion.error;
    TakeConnectionEnd(deletion, result);
  }
  if (!result.Unconfirmed && result.Failure.empty()) {
    try {
      connection_.WriteLine("quit");
    } catch (const std::exception& e) {
      result.Failure = e.what();
    }
  }
  closeQuietly();
  result.Deleted = result.Deletion.Deleted();
  return result;
}

}  // namespace brevan
