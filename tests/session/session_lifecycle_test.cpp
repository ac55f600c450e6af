// The session window's connection lifecycle against the scripted test server:
// the login dialogue, TLS selection, disconnect with deletion, keep-alive,
// dropped connections and closing the window while the server is awaited.
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <chrono>
#include <memory>
#include <ostream>

#include "app/qt_text.h"
#include "common/file_io.h"
#include "session/TForm1.h"
#include "session/TIdAntiFreeze.h"
#include "session_lifecycle_support.h"
#include "tests/support/scripted_pop3_server.h"

namespace brevan::testing {
namespace {

using brevan::test::ScriptedPop3Server;
// What the server does, step by step, for one test.
using Script = std::function<void(ScriptedPop3Server&)>;

const std::string kUnconnected = Cp("Brevan v3.3 (未連線)");
const std::string kConnectFailed = Cp("連結伺服器失敗");
const std::string kDeleteQuestion = Cp("您確定要將標記的信刪除嗎?");

// The server's side of a login that succeeds, up to the empty listing that
// follows it. It knows no CAPA (neither before USER nor after PASS), so it
// offers no STLS and the listing goes one command at a time.
ScriptedPop3Server& Greet(ScriptedPop3Server& s) {
  return s.SendLine("+OK ready").AwaitCommand().SendLine("-ERR unknown command");
}
void Login(ScriptedPop3Server& s) {
  Greet(s).AwaitCommand().SendLine("+OK").AwaitCommand().SendLine("+OK");
  s.AwaitCommand().SendLine("-ERR unknown command");
  s.AwaitCommand().SendLine("+OK").SendLine(".");
}

class SessionLifecycleTest : public WindowTest {
 protected:
  void TearDown() override {
    if (form_) delete form_.data();
    WindowTest::TearDown();
  }

  TForm1* Window() {
    if (!form_) form_ = new TForm1;
    return form_;
  }

  void Connect(int port, const std::string& portText = "") {
    TForm1* w = Window();
    w->ComboBox1->setEditText("127.0.0.1");
    w->Edit4->setText("alice");
    w->Edit2->setText("secret");
    w->Edit3->setText(portText.empty() ? QString::number(port) : QString::fromStdString(portText));
    w->btnConnect->click();
  }

  // Rows as the listing of the current connection makes them.
  void AddRows(int count, const std::vector<int>& ticked) {
    TForm1* w = Window();
    for (int i = 1; i <= count; ++i) {
      auto* item = new QTreeWidgetItem(w->ListView1, {QString::number(i)});
      bool on = std::find(ticked.begin(), ticked.end(), i) != ticked.end();
      item->setCheckState(ColNumber, on ? Qt::Checked : Qt::Unchecked);
      w->SetRowConnection(w->ListView1->indexOfTopLevelItem(item), w->ConnectionId());
    }
  }

  std::string Caption() { return FromQt(Window()->windowTitle()); }

  QPointer<TForm1> form_;
};

// ---- the login dialogue ----

struct LoginRow {
  const char* name;
  Script script;
  std::vector<std::string> sent;      // every line the client sent, in order
  std::vector<std::string> messages;  // the boxes shown
  bool connected;
};
void PrintTo(const LoginRow& row, std::ostream* os) { *os << row.name; }

class LoginDialogue : public SessionLifecycleTest, public ::testing::WithParamInterface<LoginRow> {};

TEST_P(LoginDialogue, SendsAndShowsExactly) {
  const LoginRow& row = GetParam();
  ScriptedPop3Server server;
  row.script(server);
  Connect(server.Port());
  TForm1* w = Window();
  // A refused login closes the connection itself.
  if (row.connected) w->btnDisconnect->click();
  ASSERT_TRUE(server.WaitForConnectionsEnded(1));
  std::vector<std::string> sent = server.Commands();
  if (row.connected) {
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), "quit");
    sent.pop_back();
  }
  EXPECT_EQ(sent, row.sent);
  EXPECT_EQ(dialogs_.messages, row.messages);
  EXPECT_TRUE(dialogs_.errors.empty());
  EXPECT_FALSE(w->btnDisconnect->isEnabled());
  EXPECT_TRUE(w->btnConnect->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LoginDialogue,
    ::testing::Values(
        LoginRow{"accepted", Login, {"capa", "user alice", "pass secret", "capa", "list"}, {}, true},
        LoginRow{"user_refused_shows_server_line",
                 [](ScriptedPop3Server& s) { Greet(s).AwaitCommand().SendLine("-ERR no such mailbox"); },
                 {"capa", "user alice"},
                 {"-ERR no such mailbox"},
                 false},
        LoginRow{"lower_case_ok_is_a_refusal",
                 [](ScriptedPop3Server& s) { Greet(s).AwaitCommand().SendLine("+ok welcome"); },
                 {"capa", "user alice"},
                 {"+ok welcome"},
                 false},
        LoginRow{"pass_refused",
                 [](ScriptedPop3Server& s) {
                   Greet(s).AwaitCommand().SendLine("+OK").AwaitCommand();
                   s.SendLine("-ERR [AUTH] wrong password");
                 },
                 {"capa", "user alice", "pass secret"},
                 {"-ERR [AUTH] wrong password"},
                 false},
        LoginRow{"control_bytes_in_refusal_are_masked",
                 [](ScriptedPop3Server& s) { Greet(s).AwaitCommand().SendLine("-ERR bad\x07\x1b[31mred"); },
                 {"capa", "user alice"},
                 {"-ERR bad??[31mred"},
                 false},
        // A first line that is not "+OK" may be followed by more greeting
        // lines, each within a second of the one before: CAPA goes out after
        // the last of them, or it would take one for its reply.
        LoginRow{"greeting_in_three_lines",
                 [](ScriptedPop3Server& s) {
                   s.SendLine("* first").Delay(300).SendLine("* second").Delay(300).SendLine("+OK third");
                   s.AwaitCommand().SendLine("-ERR unknown command");
                   s.AwaitCommand().SendLine("+OK").AwaitCommand().SendLine("+OK");
                   s.AwaitCommand().SendLine("-ERR unknown command");
                   s.AwaitCommand().SendLine("+OK").SendLine(".");
                 },
                 {"capa", "user alice", "pass secret", "capa", "list"},
                 {},
                 true},
        LoginRow{"greeting_and_more_in_one_packet",
                 [](ScriptedPop3Server& s) {
                   s.Send("* first\r\n+OK second\r\n");
                   s.AwaitCommand().SendLine("-ERR unknown command");
                   s.AwaitCommand().SendLine("+OK").AwaitCommand().SendLine("+OK");
                   s.AwaitCommand().SendLine("-ERR unknown command");
                   s.AwaitCommand().SendLine("+OK").SendLine(".");
                 },
                 {"capa", "user alice", "pass secret", "capa", "list"},
                 {},
                 true}),
    [](const ::testing::TestParamInfo<LoginRow>& info) { return std::string(info.param.name); });

TEST_F(SessionLifecycleTest, LoginSetsTheSessionStateAndLoadsTheRules) {
  WriteFileAtomic(File("subjectfilter.cfg"), std::string("one\r\ntwo\nthree\rfour\0five", 24));
  ScriptedPop3Server server;
  Login(server);
  Connect(server.Port());
  TForm1* w = Window();
  EXPECT_TRUE(w->btnDisconnect->isEnabled());
  EXPECT_FALSE(w->btnConnect->isEnabled());
  EXPECT_TRUE(w->Timer1->isActive());
  EXPECT_EQ(w->Session.DownloadLabel(), "alice(127.0.0.1)");
  EXPECT_EQ(w->Session.UserName(), "alice");
  EXPECT_EQ(w->IdTCPClient1.Host, "127.0.0.1");
  EXPECT_EQ(Program().FilterRuleList, (std::vector<std::string>{"one", "two", "three", "four"}));
  w->btnDisconnect->click();
  EXPECT_EQ(Caption(), kUnconnected);
  EXPECT_FALSE(w->Timer1->isActive());
}

// ---- what ends the click before a login ----

struct ConnectFailureRow {
  const char* name;
  std::string server;
  std::string portText;  // "{closed}": a port nobody listens on
  std::vector<std::string> messages;
};
void PrintTo(const ConnectFailureRow& row, std::ostream* os) { *os << row.name; }

class ConnectFailure : public SessionLifecycleTest, public ::testing::WithParamInterface<ConnectFailureRow> {};

TEST_P(ConnectFailure, EndsNotConnected) {
  const ConnectFailureRow& row = GetParam();
  std::string portText = row.portText;
  if (portText == "{closed}") {
    ScriptedPop3Server gone;
    portText = std::to_string(gone.Port());
  }  // the server has stopped and its port is closed again
  TForm1* w = Window();
  w->ComboBox1->setEditText(QString::fromStdString(row.server));
  w->Edit4->setText("alice");
  w->Edit3->setText(QString::fromStdString(portText));
  w->btnConnect->click();
  EXPECT_EQ(dialogs_.messages, row.messages);
  EXPECT_TRUE(dialogs_.errors.empty());
  EXPECT_TRUE(w->btnConnect->isEnabled());
  EXPECT_FALSE(w->btnDisconnect->isEnabled());
  EXPECT_FALSE(w->Timer1->isActive());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ConnectFailure,
    ::testing::Values(ConnectFailureRow{"blank_server", " \t ", "110", {}},
                      ConnectFailureRow{"empty_port", "127.0.0.1", "", {}},
                      ConnectFailureRow{"refused_plain_connect", "127.0.0.1", "{closed}", {Cp("連結伺服器失敗")}},
                      // Five digits reach past the last port; nothing may wrap to another one.
                      ConnectFailureRow{"port_above_65535", "127.0.0.1", "99999", {Cp("連結伺服器失敗")}}),
    [](const ::testing::TestParamInfo<ConnectFailureRow>& info) { return std::string(info.param.name); });

// ---- TLS exactly on the port text "995" ----

class TlsSelection : public SessionLifecycleTest {
 protected:
  void SetUp() override {
    SessionLifecycleTest::SetUp();
    if (::geteuid() != 0) GTEST_SKIP() << "port 995 needs root";
  }
};

TEST_F(TlsSelection, PortText995TriesTlsTwiceThenReports) {
  // A plain POP3 server on 995: its greeting is no TLS answer, so both
  // handshakes fail, where a plain client would have logged in.
  ScriptedPop3Server server(ScriptedPop3Server::Mode::Plain, 995);
  server.SendLine("+OK ready").AwaitClientClose().SendLine("+OK ready").AwaitClientClose();
  Connect(995, "995");
  EXPECT_EQ(dialogs_.messages, std::vector<std::string>{kConnectFailed});
  // The socket of the second attempt stays held until the next connect.
  ASSERT_TRUE(server.WaitForConnectionsEnded(1));
  EXPECT_EQ(server.ConnectionsAccepted(), 2);
  EXPECT_EQ(server.ReceivedBytes().find("user"), std::string::npos);
  EXPECT_EQ(server.ReceivedBytes().substr(0, 1), "\x16");  // a TLS handshake record
  EXPECT_TRUE(Window()->btnConnect->isEnabled());
  EXPECT_FALSE(Window()->btnDisconnect->isEnabled());
}

TEST_F(TlsSelection, LeadingZeroIsPlainPop3OnPort995) {
  ScriptedPop3Server server(ScriptedPop3Server::Mode::Plain, 995);
  Login(server);
  Connect(995, "0995");
  EXPECT_TRUE(dialogs_.messages.empty());
  EXPECT_TRUE(Window()->btnDisconnect->isEnabled());
  ASSERT_FALSE(server.Commands().empty());
  EXPECT_EQ(server.Commands()[1], "user alice");
  Window()->btnDisconnect->click();
}

// ---- disconnect with deletion ----

struct DisconnectRow {
  const char* name;
  int rows;
  std::vector<int> ticked;
  std::deque<bool> answers;
  std::vector<std::string> afterLogin;  // what the client sends after the listing
  bool asked;
  bool stillConnected;
};
void PrintTo(const DisconnectRow& row, std::ostream* os) { *os << row.name; }

class Disconnect : public SessionLifecycleTest, public ::testing::WithParamInterface<DisconnectRow> {};

TEST_P(Disconnect, DeletesTickedRowsFromLastToFirst) {
  const DisconnectRow& row = GetParam();
  ScriptedPop3Server server;
  Login(server);
  server.AwaitCommand().SendLine("+OK").AwaitCommand().SendLine("+OK");
  Connect(server.Port());
  TForm1* w = Window();
  ASSERT_TRUE(w->btnDisconnect->isEnabled());
  AddRows(row.rows, row.ticked);
  dialogs_.answers = row.answers;
  w->btnDisconnect->click();

  EXPECT_EQ(dialogs_.questions.size(), row.asked ? 1u : 0u);
  if (row.asked) EXPECT_EQ(dialogs_.questions[0], kDeleteQuestion);
  EXPECT_EQ(w->btnDisconnect->isEnabled(), row.stillConnected);
  EXPECT_EQ(w->btnConnect->isEnabled(), !row.stillConnected);
  if (row.stillConnected) {
    EXPECT_TRUE(w->Timer1->isActive());
    for (int i = 0; i < w->ListView1->topLevelItemCount(); ++i)
      w->ListView1->topLevelItem(i)->setCheckState(ColNumber, Qt::Unchecked);
    w->btnDisconnect->click();  // now with nothing ticked
  }
  ASSERT_TRUE(server.WaitForConnectionsEnded(1));
  std::vector<std::string> sent = server.Commands();
  ASSERT_GE(sent.size(), 5u);
  sent.erase(sent.begin(), sent.begin() + 5);  // capa, user, pass, capa, list
  EXPECT_EQ(sent, row.afterLogin);
  // Rows and marks stay on screen after a disconnect.
  EXPECT_EQ(w->ListView1->topLevelItemCount(), row.rows);
  EXPECT_TRUE(dialogs_.errors.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Disconnect,
    ::testing::Values(DisconnectRow{"rows_1_and_3_of_5", 5, {1, 3}, {true}, {"dele 3", "dele 1", "quit"}, true, false},
                      DisconnectRow{"nothing_ticked_asks_nothing", 5, {}, {}, {"quit"}, false, false},
                      DisconnectRow{"cancel_keeps_connection_and_marks", 2, {2}, {false}, {"quit"}, true, true},
                      DisconnectRow{"empty_list", 0, {}, {}, {"quit"}, false, false}),
    [](const ::testing::TestParamInfo<DisconnectRow>& info) { return std::string(info.param.name); });

TEST_F(SessionLifecycleTest, FailedDeleteStillClosesAndReportsTheError) {
  // The server hangs up when the first DELE arrives.
  ScriptedPop3Server server;
  Login(server);
  server.AwaitCommand().CloseConnection();
  Connect(server.Port());
  TForm1* w = Window();
  AddRows(3, {1, 2});
  w->btnDisconnect->click();
  EXPECT_EQ(dialogs_.errors.size(), 1u);
  EXPECT_FALSE(w->btnDisconnect->isEnabled());
  EXPECT_TRUE(w->btnConnect->isEnabled());
  EXPECT_EQ(Caption(), kUnconnected);
}

// ---- the server goes away ----

TEST_F(SessionLifecycleTest, DroppedConnectionRestoresWindowAndCaption) {
  uint32_t now = 1000;
  SetTickSource([&] { return now; });
  ScriptedPop3Server server;
  Login(server);
  server.CloseConnection();
  Connect(server.Port());
  TForm1* w = Window();
  ASSERT_TRUE(w->btnDisconnect->isEnabled());
  w->setWindowTitle(ToQt(Cp("Brevan v3.2 (2)(未連線)")));
  ASSERT_TRUE(server.WaitForConnectionsEnded(1));
  now += 120001;
  // The NOOP finds the connection closed: the error goes to the error box
  // and the window is not connected any more.
  RunHandler(w, [&] { w->Timer1Timer(); });
  ASSERT_EQ(dialogs_.errors.size(), 1u);
  EXPECT_EQ(dialogs_.errors[0], "Connection Closed Gracefully.");
  EXPECT_EQ(Caption(), kUnconnected);
  EXPECT_TRUE(w->btnConnect->isEnabled());
  EXPECT_FALSE(w->btnDisconnect->isEnabled());
  EXPECT_FALSE(w->Timer1->isActive());
}

// ---- keep-alive ----

struct KeepAliveRow {
  const char* name;
  uint32_t loginTick;
  uint32_t elapsed;  // added to the login tick, wrapping
  bool busy;         // another exchange waits meanwhile
  bool noop;
};
void PrintTo(const KeepAliveRow& row, std::ostream* os) { *os << row.name; }

class KeepAlive : public SessionLifecycleTest, public ::testing::WithParamInterface<KeepAliveRow> {};

TEST_P(KeepAlive, SendsNoopOnlyAfterTheIdlePeriod) {
  const KeepAliveRow& row = GetParam();
  uint32_t now = row.loginTick;
  SetTickSource([&] { return now; });
  ScriptedPop3Server server;
  Login(server);
  if (row.noop) server.AwaitCommand().SendLine("+OK");
  Connect(server.Port());
  TForm1* w = Window();
  ASSERT_TRUE(w->btnDisconnect->isEnabled());
  ASSERT_EQ(w->Session.ActivityTick(), row.loginTick);
  now = row.loginTick + row.elapsed;
  if (row.busy) {
    ExchangeGuard waiting(*w);
    w->Timer1Timer();
  } else {
    w->Timer1Timer();
  }
  EXPECT_EQ(w->Session.ActivityTick(), row.loginTick);  // a NOOP is no activity
  w->btnDisconnect->click();
  ASSERT_TRUE(server.WaitForConnectionsEnded(1));
  std::vector<std::string> expected{"capa", "user alice", "pass secret", "capa", "list"};
  if (row.noop) expected.push_back("noop");
  expected.push_back("quit");
  EXPECT_EQ(server.Commands(), expected);
  EXPECT_TRUE(dialogs_.errors.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, KeepAlive,
    ::testing::Values(KeepAliveRow{"exactly_the_period_is_not_idle", 5000, 120000, false, false},
                      KeepAliveRow{"one_ms_past_the_period", 5000, 120001, false, true},
                      KeepAliveRow{"long_idle", 5000, 3600000, false, true},
                      KeepAliveRow{"idle_across_the_tick_wrap", 0xFFFFF000u, 120001, false, true},
                      KeepAliveRow{"young_session_across_the_wrap", 0xFFFFF000u, 10000, false, false},
                      KeepAliveRow{"another_exchange_waits", 5000, 120001, true, false}),
    [](const ::testing::TestParamInfo<KeepAliveRow>& info) { return std::string(info.param.name); });

// ---- closing the window while the server is awaited ----

struct PendingCloseRow {
  const char* name;
  Script script;
  size_t linesBeforeClose;  // close once the server has this many command lines
  std::vector<std::string> sent;
};
void PrintTo(const PendingCloseRow& row, std::ostream* os) { *os << row.name; }

class PendingClose : public SessionLifecycleTest, public ::testing::WithParamInterface<PendingCloseRow> {};

TEST_P(PendingClose, WindowGoesWithoutCrashOrMessage) {
  const PendingCloseRow& row = GetParam();
  ScriptedPop3Server server;
  row.script(server);
  QPointer<TForm1> w = Window();
  w->ComboBox1->setEditText("127.0.0.1");
  w->Edit4->setText("alice");
  w->Edit3->setText(QString::number(server.Port()));
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (w && w->btnDisconnect->isEnabled() && server.Commands().size() >= row.linesBeforeClose) {
      closer.stop();
      w->close();
    }
  });
  closer.start(10);
  w->btnConnect->click();  // returns once the waiting read has failed
  DrainEvents();
  EXPECT_TRUE(w.isNull());
  ASSERT_TRUE(server.WaitForConnectionsEnded(1));
  EXPECT_EQ(server.Commands(), row.sent);
  EXPECT_TRUE(dialogs_.messages.empty());
  EXPECT_TRUE(dialogs_.errors.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PendingClose,
    ::testing::Values(PendingCloseRow{"during_the_greeting", [](ScriptedPop3Server&) {}, 0, {"quit"}},
                      PendingCloseRow{"during_the_capa_reply", [](ScriptedPop3Server& s) { s.SendLine("+OK ready"); },
                                      1, {"capa", "quit"}},
                      PendingCloseRow{"during_the_user_reply", [](ScriptedPop3Server& s) { Greet(s); }, 2,
                                      {"capa", "user alice", "quit"}}),
    [](const ::testing::TestParamInfo<PendingCloseRow>& info) { return std::string(info.param.name); });

TEST_F(SessionLifecycleTest, CloseAfterCancelledQuestionGoesAtOnceAndDeletesNothing) {
  ScriptedPop3Server server;
  Login(server);
  Connect(server.Port());
  QPointer<TForm1> w = Window();
  AddRows(2, {1});
  dialogs_.answers = {false};
  const auto start = std::chrono::steady_clock::now();
  w->close();
  // Nothing is left to wait for; a close that still waited its whole 10 s
  // bound fails here.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  DrainEvents();
  EXPECT_TRUE(w.isNull());
  EXPECT_EQ(dialogs_.questions.size(), 1u);
  // The window went without a word to the server.
  ASSERT_TRUE(server.WaitForConnectionsEnded(1));
  EXPECT_EQ(server.Commands(), (std::vector<std::string>{"capa", "user alice", "pass secret", "capa", "list"}));
}

TEST_F(SessionLifecycleTest, CloseOfAConnectedWindowDisconnectsFirst) {
  ScriptedPop3Server server;
  Login(server);
  server.AwaitCommand().SendLine("+OK");
  Connect(server.Port());
  QPointer<TForm1> w = Window();
  AddRows(3, {2});
  w->close();
  DrainEvents();
  EXPECT_TRUE(w.isNull());
  ASSERT_TRUE(server.WaitForConnectionsEnded(1));
  EXPECT_EQ(server.Commands(),
            (std::vector<std::string>{"capa", "user alice", "pass secret", "capa", "list", "dele 2", "quit"}));
}

// ---- the port field ----

TEST_F(SessionLifecycleTest, PortFieldKeepsOnlyTypedDigits) {
  TForm1* w = Window();
  w->Edit3->clear();
  w->Edit3->setFocus();
  for (QChar c : QString("9a9;5 -1x23")) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QCoreApplication::sendEvent(w->Edit3, &press);
  }
  EXPECT_EQ(w->Edit3->text(), "99512");  // digits only, five at most
  QKeyEvent backspace(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier, QString(QChar('\b')));
  QCoreApplication::sendEvent(w->Edit3, &backspace);
  EXPECT_EQ(w->Edit3->text(), "9951");
}

// ---- the anti-freeze ----

TEST_F(SessionLifecycleTest, NewestAntiFreezeIsInForceAndTheOneBeforeTakesOver) {
  auto older = std::make_unique<TIdAntiFreeze>();
  auto newer = std::make_unique<TIdAntiFreeze>();
  EXPECT_TRUE(newer->InForce());
  EXPECT_FALSE(older->InForce());
  newer.reset();
  EXPECT_TRUE(older->InForce());
  // A window's waits are still serviced after a younger window has gone: a
  // close queued before the wait runs inside it.
  older.reset();
  ScriptedPop3Server server;  // never greets
  QPointer<TForm1> w = Window();
  auto younger = std::make_unique<TForm1>();
  younger.reset();
  w->ComboBox1->setEditText("127.0.0.1");
  w->Edit3->setText(QString::number(server.Port()));
  QTimer::singleShot(0, w, [&] { w->close(); });
  w->btnConnect->click();
  DrainEvents();
  EXPECT_TRUE(w.isNull());
}

// ---- server text made fit for a box ----

TEST(SanitizeServerLine, MasksControlBytesAndKeepsDoubleByteCharacters) {
  EXPECT_EQ(SanitizeServerLine("-ERR a\tb\r\x7f"), "-ERR a?b??");
  // Big5 characters whose trail byte is a backslash stay whole.
  std::string big5 = Cp("許功蓋");
  EXPECT_EQ(SanitizeServerLine("-ERR " + big5), "-ERR " + big5);
  std::string longLine(2000, 'x');
  std::string shown = SanitizeServerLine(longLine);
  EXPECT_LT(shown.size(), 600u);
  EXPECT_EQ(shown.substr(shown.size() - 3), "...");
  // Cut before a double-byte character, never inside it.
  std::string edge = std::string(511, 'x') + big5;
  std::string cut = SanitizeServerLine(edge);
  EXPECT_EQ(cut, std::string(511, 'x') + "...");
}

// ---- a CAPA reply that never ends ----

struct EndlessCapaRow {
  const char* name;
  int capaBoundMs;
  bool clickDisconnect;  // during the CAPA wait (the greeting's own wait for more lines is over)
  bool beforeLogin = false;  // the CAPA right after the greeting never ends, not the one after PASS
};
void PrintTo(const EndlessCapaRow& row, std::ostream* os) { *os << row.name; }

class EndlessCapa : public SessionLifecycleTest, public ::testing::WithParamInterface<EndlessCapaRow> {};

// A server that answers every command with a bare "+OK" never ends its CAPA
// reply: the login gives up the connection at the bound, or at once on a
// Disconnect, and nothing it sends later is read as another reply.
TEST_P(EndlessCapa, EndsTheLoginAndSendsNothingMore) {
  const EndlessCapaRow& row = GetParam();
  ScriptedPop3Server server;
  // Only a client that waits for ever would still be here when the "."
  // comes.
  if (row.beforeLogin) {
    server.SendLine("+OK ready").AwaitCommand().SendLine("+OK").Delay(5000).SendLine(".").CloseConnection();
  } else {
    server.SendLine("+OK ready").AwaitCommand().SendLine("-ERR unknown command");
    server.AwaitCommand().SendLine("+OK").AwaitCommand().SendLine("+OK");
    server.AwaitCommand().SendLine("+OK").Delay(5000).SendLine("+OK").SendLine(".").CloseConnection();
  }
  TForm1* w = Window();
  w->Session.SetCapaBound(std::chrono::milliseconds(row.capaBoundMs));
  if (row.clickDisconnect) QTimer::singleShot(1500, w, [w] { w->btnDisconnect->click(); });
  const auto start = std::chrono::steady_clock::now();
  Connect(server.Port());
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(took, 3.5);
  EXPECT_FALSE(w->IsConnected());
  EXPECT_TRUE(w->btnConnect->isEnabled());
  EXPECT_EQ(w->ListView1->topLevelItemCount(), 0);
  ASSERT_TRUE(server.WaitForConnectionsEnded(1, 2000)) << "connection left open";
  std::vector<std::string> sent{"capa", "user alice", "pass secret", "capa"};
  if (row.beforeLogin) sent = {"capa"};
  if (row.clickDisconnect) sent.push_back("quit");
  EXPECT_EQ(server.Commands(), sent);
  EXPECT_TRUE(dialogs_.messages.empty());
  EXPECT_TRUE(dialogs_.errors.empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, EndlessCapa,
                         ::testing::Values(EndlessCapaRow{"bound_passes", 500, false},
                                           EndlessCapaRow{"disconnect_click", 30000, true},
                                           EndlessCapaRow{"before_login_bound_passes", 500, false, true},
                                           EndlessCapaRow{"before_login_disconnect_click", 30000, true, true}),
                         [](const ::testing::TestParamInfo<EndlessCapaRow>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace brevan::testing
