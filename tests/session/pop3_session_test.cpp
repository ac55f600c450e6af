// One window's POP3 session without a window, against the scripted mailbox
// server and a real Dovecot: a disconnect at a step of every exchange deletes
// exactly the marked messages, never waits out a long reply, and never says
// the server did not answer when it did.
#include "session/pop3_session.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "net/tcp_client.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/named_rows.h"
#include "tests/support/scripted_pop3_server.h"

namespace brevan {
namespace {

using test::Pop3Fault;
using test::Pop3Mailbox;
using test::ScriptedPop3Server;
using Clock = std::chrono::steady_clock;

std::vector<std::string> ThreeMessages(size_t secondBodyBytes = 0) {
  return {"Subject: message 1\r\n\r\none\r\n",
          "Subject: message 2\r\n\r\n" + std::string(secondBodyBytes, 'x') + "\r\ntwo\r\n",
          "Subject: message 3\r\n\r\nthree\r\n"};
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// A folder of its own for each test, removed afterwards.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = ::testing::TempDir() + "pop3_session_XXXXXX";
    path_ = ::mkdtemp(pattern.data()) ? pattern + "/" : std::string();
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

enum class Interrupted { Login, Listing, Preview, Download, KeepAlive };

// Drives one session the way its window does and runs the disconnect from
// inside the exchange's waits, as a click handled while the window waits.
class SessionDriver {
 public:
  explicit SessionDriver(int port, const std::string& address = "127.0.0.1") {
    request_.Server = address;
    request_.Port = port;
    request_.User = "alice";
    request_.Password = "secret";
    TIdTCPConnection::SetServiceCallback([this] { Service(); });
  }
  ~SessionDriver() { TIdTCPConnection::SetServiceCallback(nullptr); }

  LoginResult LogIn() { return session_.LogIn(request_); }
  PipelinedListing::End List() {
    ListingSteps steps;
    steps.ProcessEvents = [this] { Service(); };
    return session_.List({}, steps);
  }

  // Once when() holds, the disconnect deletes the rows given (0-based).
  void DisconnectWhen(std::function<bool()> when, std::vector<int> rows) {
    when_ = std::move(when);
    rows_ = std::move(rows);
  }

  Pop3Session& Session() { return session_; }
  const std::optional<CloseResult>& Closed() const { return closed_; }
  // How long the disconnect took, from its start to its end.
  double CloseSeconds() const { return Seconds(closedAt_ - closeStart_); }

 private:
  void Service() {
    if (closing_ || !when_ || !when_()) return;
    closing_ = true;
    closeStart_ = Clock::now();
    closed_ = session_.Close(session_.DeletableNumbers(rows_));
    closedAt_ = Clock::now();
  }

  Pop3Session session_;
  LoginRequest request_;
  std::function<bool()> when_;
  std::vector<int> rows_;
  bool closing_ = false;
  std::optional<CloseResult> closed_;
  Clock::time_point closeStart_;
  Clock::time_point closedAt_;
};

// Runs the interrupted exchange after a whole first listing (except when the
// login or the listing is what is interrupted).
void RunExchange(SessionDriver& driver, Interrupted which, const std::string& folder) {
  Pop3Session& session = driver.Session();
  const LoginResult login = driver.LogIn();
  if (which == Interrupted::Login) {
    EXPECT_EQ(login.End, LoginEnd::Ended);
    return;
  }
  ASSERT_EQ(login.End, LoginEnd::LoggedIn);
  const PipelinedListing::End listed = driver.List();
  if (which == Interrupted::Listing) {
    EXPECT_EQ(listed, PipelinedListing::End::Finished);
    return;
  }
  ASSERT_EQ(listed, PipelinedListing::End::Complete);
  switch (which) {
    case Interrupted::Preview:
      EXPECT_EQ(session.Preview(2).End, ExchangeEnd::Ended);
      break;
    case Interrupted::Download: {
      MessageDownload download(session.Source());
      RawReplyEvents events;
      EXPECT_EQ(session.Download(2, download, folder, events).End, ExchangeEnd::Ended);
      break;
    }
    case Interrupted::KeepAlive:
      ::usleep(5000);
      session.KeepAlive(0);
      break;
    default:
      break;
  }
}

struct StepRow {
  const char* name;
  Interrupted which;
  int faultStep;  // the reply (by command of the first connection) that is late or never ends
  Pop3Fault fault;
  std::vector<int> marked;     // rows ticked (0-based)
  std::vector<int> remaining;  // the messages on the server afterwards (their numbers)
  bool reopened;               // deleted on a fresh connection
  bool offersUidl = true;
  const char* goneRowUid = nullptr;  // row 0's id replaced: its message is no longer there
  std::vector<StayReason> reasons = {};  // each marked message's fate, when not all deleted
};
void PrintTo(const StepRow& row, std::ostream* os) { *os << row.name; }

class DisconnectAtEveryStep : public ::testing::TestWithParam<StepRow> {};

// The first connection's commands with UIDL offered: capa 1, user 2, pass 3,
// capa 4, list 5, uidl 6, top 7..9; the interrupted exchange's command is 10.
constexpr int kExchangeCommand = 10;
constexpr int kLateMs = 5000;
const Pop3Fault kLate{Pop3Fault::Delay, kLateMs};
Pop3Fault NeverEnds(const std::string& start) { return {Pop3Fault::Replace, 0, start}; }

TEST_P(DisconnectAtEveryStep, DeletesExactlyTheMarkedMessagesWithoutWaitingForALongReply) {
  const StepRow& row = GetParam();
  Pop3Mailbox box;
  box.user = "alice";
  box.password = "secret";
  box.messages = ThreeMessages();
  box.answersCapa = true;
  box.capabilities = {"TOP", "USER"};
  if (row.offersUidl) box.capabilities.push_back("UIDL");
  ScriptedPop3Server server;
  server.ServeMailbox(box);
  server.InjectFault(row.faultStep, row.fault);
  TempFolder folder;

  SessionDriver driver(server.Port());
  // The disconnect comes once the interrupted command is in, or in the
  // greeting's wait for the login.
  const size_t trigger = row.faultStep == 0 ? 0 : static_cast<size_t>(row.faultStep);
  driver.DisconnectWhen(
      [&] {
        if (row.goneRowUid && driver.Session().Rows().size() == 3) {
          SessionRow first = driver.Session().Row(0);
          if (first.Uid != row.goneRowUid) {
            first.Uid = row.goneRowUid;
            driver.Session().SetRow(0, first);
          }
        }
        return server.ConnectionsAccepted() >= 1 && server.Commands().size() >= trigger;
      },
      row.marked);
  RunExchange(driver, row.which, folder.Path());

  ASSERT_TRUE(driver.Closed().has_value()) << "the disconnect never ran";
  const CloseResult& result = *driver.Closed();
  const int connections = server.ConnectionsAccepted();
  ASSERT_TRUE(server.WaitForConnectionsEnded(connections, 5000));
  EXPECT_FALSE(result.Unconfirmed) << "the server answered all along";
  EXPECT_EQ(result.Failure, "");
  EXPECT_EQ(result.Reopened, row.reopened);
  EXPECT_EQ(server.RemainingMessageNumbers(), row.remaining);
  EXPECT_EQ(driver.Session().State(), SessionState::Disconnected);
  const std::vector<std::string> commands = server.Commands();
  if (row.reopened) {
    // Nothing more went out on the first connection: no "dele", no "quit".
    if (!row.reasons.empty() && row.reasons[0] == StayReason::NoUniqueId) {
      EXPECT_EQ(connections, 1);
      EXPECT_EQ(commands.size(), trigger);
    } else {
      EXPECT_EQ(connections, 2);
      ASSERT_GT(commands.size(), trigger);
      EXPECT_EQ(commands[trigger], "capa");
    }
  } else {
    EXPECT_EQ(connections, 1);
  }
  // A late or endless reply is never waited out.
  EXPECT_LT(driver.CloseSeconds(), kLateMs / 2000.0);
  if (!row.reasons.empty()) {
    ASSERT_EQ(result.Deletion.messages.size(), row.reasons.size());
    for (size_t i = 0; i < row.reasons.size(); ++i)
      EXPECT_EQ(result.Deletion.messages[i].reason, row.reasons[i]) << "message " << i;
    EXPECT_NE(StayedOnServerText(result.Deletion, true), "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DisconnectAtEveryStep,
    ::testing::Values(
        // The login: no row belongs to a connection that is still logging in.
        StepRow{"login_greeting_late", Interrupted::Login, 0, kLate, {0}, {1, 2, 3}, false},
        StepRow{"login_pass_reply_late", Interrupted::Login, 3, kLate, {0}, {1, 2, 3}, false},
        StepRow{"login_capa_never_ends", Interrupted::Login, 4, NeverEnds("+OK\r\nTOP\r\n"), {0}, {1, 2, 3}, false},
        // The listing: the rows shown so far may be marked; before the
        // first TOP reply there are none.
        StepRow{"listing_list_reply_late", Interrupted::Listing, 5, kLate, {0}, {1, 2, 3}, false},
        StepRow{"listing_uidl_reply_late", Interrupted::Listing, 6, kLate, {0}, {1, 2, 3}, false},
        StepRow{"listing_third_top_late", Interrupted::Listing, 9, kLate, {0}, {2, 3}, true},
        StepRow{"listing_top_never_ends", Interrupted::Listing, 9, NeverEnds("+OK\r\nSubject: m"), {1}, {1, 3},
                true},
        StepRow{"preview_status_late", Interrupted::Preview, kExchangeCommand, kLate, {0, 2}, {2}, true},
        StepRow{"preview_body_never_ends", Interrupted::Preview, kExchangeCommand,
                NeverEnds("+OK\r\nSubject: message 2\r\n"), {0, 2}, {2}, true},
        StepRow{"download_status_late", Interrupted::Download, kExchangeCommand, kLate, {0, 2}, {2}, true},
        StepRow{"download_body_never_ends", Interrupted::Download, kExchangeCommand,
                NeverEnds("+OK\r\nSubject: message 2\r\n\r\npart"), {0, 2}, {2}, true},
        // A status line alone is read, on the same connection.
        StepRow{"keep_alive_reply_late", Interrupted::KeepAlive, kExchangeCommand, {Pop3Fault::Delay, 400}, {0, 2},
                {2}, false},
        // Without unique ids nothing can be found again: nothing is deleted.
        StepRow{"download_body_never_ends_without_uidl", Interrupted::Download, kExchangeCommand - 1,
                NeverEnds("+OK\r\nSubject: message 2\r\n\r\npart"), {0, 2}, {1, 2, 3}, true, false, nullptr,
                {StayReason::NoUniqueId, StayReason::NoUniqueId}},
        // A marked message whose id is gone by the fresh connection stays;
        // the other marked one goes.
        StepRow{"download_marked_message_gone", Interrupted::Download, kExchangeCommand,
                NeverEnds("+OK\r\nSubject: message 2\r\n\r\npart"), {0, 2}, {1, 2}, true, true, "no-such-id",
                {StayReason::Gone, StayReason::None}}),
    RowName<StepRow>);

// A real server: a disconnect in the middle of a large message drops that
// connection, and the marked messages go on a fresh one, found by UIDL; on a
// server that wants STLS the fresh one goes through TLS as well, and must
// show the certificate the first one showed.
class DisconnectOnDovecot : public ::testing::TestWithParam<bool> {};

TEST_P(DisconnectOnDovecot, InTheMiddleOfAMessageDeletesTheMarkedOnAFreshConnection) {
  if (auto why = test::DovecotServer::Unavailable(false); !why.empty()) GTEST_SKIP() << why;
  test::DovecotOptions options;
  options.user = "alice";
  options.password = "secret";
  options.messages = ThreeMessages(32 * 1024 * 1024);
  options.stlsOnPlain = GetParam();
  test::DovecotServer dovecot(options);
  TempFolder folder;

  SessionDriver driver(dovecot.PlainPort(), dovecot.PlainAddress());
  ASSERT_EQ(driver.LogIn().End, LoginEnd::LoggedIn);
  EXPECT_EQ(driver.Session().Connection().TlsActive(), GetParam());
  ASSERT_EQ(driver.List(), PipelinedListing::End::Complete);
  ASSERT_EQ(driver.Session().Rows().size(), 3u);
  for (const SessionRow& row : driver.Session().Rows()) EXPECT_NE(row.Uid, "") << row.Number;
  Pop3Session& session = driver.Session();
  driver.DisconnectWhen([&] { return session.Outstanding() && session.Outstanding()->OwesLongReply(); }, {0, 2});
  MessageDownload download(session.Source());
  EXPECT_EQ(session.Download(2, download, folder.Path(), {}).End, ExchangeEnd::Ended);
  ASSERT_TRUE(driver.Closed().has_value());
  const CloseResult& result = *driver.Closed();
  EXPECT_TRUE(result.Reopened);
  EXPECT_FALSE(result.Unconfirmed);
  EXPECT_EQ(result.Failure, "");
  EXPECT_EQ(result.Deleted, (std::vector<int>{1, 3}));
  EXPECT_LT(driver.CloseSeconds(), 5.0);

  // What a later connection finds.
  SessionDriver later(dovecot.PlainPort(), dovecot.PlainAddress());
  ASSERT_EQ(later.LogIn().End, LoginEnd::LoggedIn);
  ASSERT_EQ(later.List(), PipelinedListing::End::Complete);
  ASSERT_EQ(later.Session().Rows().size(), 1u);
  EXPECT_EQ(later.Session().Row(0).Uid, session.Row(1).Uid);
  later.Session().Close(std::vector<int>{});
}

INSTANTIATE_TEST_SUITE_P(Servers, DisconnectOnDovecot, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "stls" : "plain");
                         });

// Two windows' sessions at once: the one still waiting for its greeting
// logs in with its own user and password while the other logs in, and each
// keeps its own download folder and activity.
TEST(TwoSessions, EachKeepsItsOwnUserFolderAndActivity) {
  Pop3Mailbox boxA;
  boxA.user = "alice";
  boxA.password = "a-secret";
  boxA.messages = {"Subject: for alice\r\n\r\nbody\r\n"};
  Pop3Mailbox boxB = boxA;
  boxB.user = "bob";
  boxB.password = "b-secret";
  ScriptedPop3Server serverA;
  serverA.ServeMailbox(boxA);
  serverA.InjectFault(0, {Pop3Fault::Delay, 300});
  ScriptedPop3Server serverB;
  serverB.ServeMailbox(boxB);

  Pop3Session a;
  Pop3Session b;
  auto request = [](int port, const char* user, const char* password) {
    LoginRequest r;
    r.Server = "127.0.0.1";
    r.Port = port;
    r.User = user;
    r.Password = password;
    return r;
  };
  bool bDone = false;
  LoginResult bLogin;
  TIdTCPConnection::SetServiceCallback([&] {
    if (bDone || serverA.ConnectionsAccepted() < 1) return;
    bDone = true;
    bLogin = b.LogIn(request(serverB.Port(), "bob", "b-secret"));
  });
  const LoginResult aLogin = a.LogIn(request(serverA.Port(), "alice", "a-secret"));
  TIdTCPConnection::SetServiceCallback(nullptr);
  ASSERT_TRUE(bDone);
  ASSERT_EQ(bLogin.End, LoginEnd::LoggedIn);
  ASSERT_EQ(aLogin.End, LoginEnd::LoggedIn);
  EXPECT_EQ(serverA.Commands(), (std::vector<std::string>{"capa", "user alice", "pass a-secret", "capa"}));
  EXPECT_EQ(serverB.Commands(), (std::vector<std::string>{"capa", "user bob", "pass b-secret", "capa"}));
  EXPECT_EQ(a.DownloadLabel(), "alice(127.0.0.1)");
  EXPECT_EQ(b.DownloadLabel(), "bob(127.0.0.1)");
  // One session's activity is not the other's: each keep-alive goes on its
  // own clock.
  const uint32_t aTick = a.ActivityTick();
  ::usleep(20000);
  b.NoteActivity();
  EXPECT_EQ(a.ActivityTick(), aTick);
  a.KeepAlive(1);
  ASSERT_TRUE(serverA.WaitForCommands(5));
  EXPECT_EQ(serverA.Commands().back(), "noop");
  a.Close(std::vector<int>{});
  b.Close(std::vector<int>{});
}

}  // namespace
}  // namespace brevan
