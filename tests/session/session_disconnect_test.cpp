// Disconnecting the session window against the scripted test server: only
// the current connection's marks are deleted, every wait is bounded, and no
// "dele" goes into a reply still owed: a status line is read first, a long
// reply is dropped with its connection.
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>

#include "app/dialogs.h"
#include "app/qt_text.h"
#include "keep/copy_then_delete.h"
#include "session/TForm1.h"
#include "session_lifecycle_support.h"
#include "tests/support/line_client.h"
#include "tests/support/named_rows.h"
#include "tests/support/scripted_pop3_server.h"

namespace brevan::testing {
namespace {

using brevan::test::ScriptedPop3Server;
using Script = std::function<void(ScriptedPop3Server&)>;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kDeleteQuestion = Cp("您確定要將標記的信刪除嗎?");
const std::vector<std::string> kLogin{"capa", "user alice", "pass secret", "capa", "list"};

// A login that succeeds, followed by a listing of n messages.
void LoginListing(ScriptedPop3Server& s, int n) {
  s.SendLine("+OK ready").AwaitCommand().SendLine("-ERR unknown command");  // capa: no STLS
  s.AwaitCommand().SendLine("+OK").AwaitCommand().SendLine("+OK");
  s.AwaitCommand().SendLine("-ERR unknown command");  // capa
  s.AwaitCommand().SendLine("+OK");
  for (int k = 1; k <= n; ++k) s.SendLine(std::to_string(k) + " 100");
  s.SendLine(".");
  for (int k = 1; k <= n; ++k) {
    s.AwaitCommand().SendLine("+OK").SendLine("Subject: message " + std::to_string(k)).SendLine(".");
  }
}

std::vector<std::string> ListingCommands(int n) {
  std::vector<std::string> sent = kLogin;
  for (int k = 1; k <= n; ++k) sent.push_back("top " + std::to_string(k) + " 0");
  return sent;
}

std::vector<std::string> From(const std::vector<std::string>& all, size_t first) {
  return first < all.size() ? std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(first), all.end())
                            : std::vector<std::string>{};
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

class DisconnectTest : public WindowTest {
 protected:
  void TearDown() override {
    if (form_) delete form_.data();
    WindowTest::TearDown();
  }

  TForm1* Window() {
    if (!form_) form_ = new TForm1;
    return form_;
  }

  void Connect(int port) {
    TForm1* w = Window();
    w->ComboBox1->setEditText("127.0.0.1");
    w->Edit4->setText("alice");
    w->Edit2->setText("secret");
    w->Edit3->setText(QString::number(port));
    w->btnConnect->click();
  }

  // Rows as the current connection's listing makes them.
  void AddRows(int count, const std::vector<int>& ticked) {
    TForm1* w = Window();
    for (int i = 1; i <= count; ++i) {
      auto* item = new QTreeWidgetItem(w->ListView1, {QString::number(i)});
      bool on = std::find(ticked.begin(), ticked.end(), i) != ticked.end();
      item->setCheckState(ColNumber, on ? Qt::Checked : Qt::Unchecked);
      w->SetRowConnection(w->ListView1->indexOfTopLevelItem(item), w->ConnectionId());
    }
  }

  void Tick(const std::vector<int>& rows) {
    for (int row : rows) Window()->ListView1->topLevelItem(row - 1)->setCheckState(ColNumber, Qt::Checked);
  }

  std::vector<bool> Ticks() {
    std::vector<bool> ticks;
    for (int i = 0; i < Window()->ListView1->topLevelItemCount(); ++i)
      ticks.push_back(Window()->ListView1->topLevelItem(i)->checkState(ColNumber) == Qt::Checked);
    return ticks;
  }

  // Runs the action once, from the event loop, as soon as the condition
  // holds: a click or a close arriving while the window waits.
  void When(std::function<bool()> condition, std::function<void()> action) {
    poller_ = std::make_unique<QTimer>();
    QObject::connect(poller_.get(), &QTimer::timeout, [this, condition, action] {
      if (!condition()) return;
      poller_->stop();
      action();
    });
    poller_->start(5);
  }

  QPointer<TForm1> form_;
  std::unique_ptr<QTimer> poller_;
};

// ---- marks of an earlier connection ----

struct StaleRow {
  const char* name;
  Script secondLogin;      // the server's side of the second connection
  size_t linesBeforeAction;  // of the second connection
  bool closeWindow;        // close the window instead of clicking Disconnect
  std::vector<std::string> second;  // all the second connection gets
};
void PrintTo(const StaleRow& row, std::ostream* os) { *os << row.name; }

class StaleMarks : public DisconnectTest, public ::testing::WithParamInterface<StaleRow> {};

TEST_P(StaleMarks, AreNeverDeletedOnALaterConnection) {
  const StaleRow& row = GetParam();
  ScriptedPop3Server server;
  LoginListing(server, 3);
  server.AwaitCommand().SendLine("+OK").AwaitCommand().AwaitClientClose();  // dele 2, quit
  row.secondLogin(server);
  Connect(server.Port());
  QPointer<TForm1> w = Window();
  ASSERT_EQ(w->ListView1->topLevelItemCount(), 3);
  Tick({2});
  w->btnDisconnect->click();
  ASSERT_TRUE(server.WaitForConnectionsEnded(1));
  std::vector<std::string> first = ListingCommands(3);
  first.insert(first.end(), {"dele 2", "quit"});
  ASSERT_EQ(server.Commands(), first);
  ASSERT_EQ(dialogs_.questions.size(), 1u);

  // The old rows keep their tick; the new connection is slow to log in.
  When([&] { return w && w->btnDisconnect->isEnabled() && server.Commands().size() >= first.size() + row.linesBeforeAction; },
       [&] {
         if (row.closeWindow) {
           w->close();
         } else {
           w->btnDisconnect->click();
         }
       });
  w->btnConnect->click();  // returns once the waiting read has failed
  if (!row.closeWindow) {
    EXPECT_EQ(Ticks(), (std::vector<bool>{false, true, false}));
    EXPECT_FALSE(w->btnDisconnect->isEnabled());
  }
  DrainEvents();
  EXPECT_EQ(w.isNull(), row.closeWindow);
  ASSERT_TRUE(server.WaitForConnectionsEnded(2));
  EXPECT_EQ(From(server.Commands(), first.size()), row.second);
  EXPECT_EQ(dialogs_.questions.size(), 1u) << "old marks asked about again";
  EXPECT_TRUE(dialogs_.messages.empty());
  EXPECT_TRUE(dialogs_.errors.empty());
}

void NoGreeting(ScriptedPop3Server&) {}
void SlowPass(ScriptedPop3Server& s) {
  s.SendLine("+OK again").AwaitCommand().SendLine("-ERR unknown command");
  s.AwaitCommand().SendLine("+OK").AwaitCommand();
}
void PassAnsweredLate(ScriptedPop3Server& s) {
  s.SendLine("+OK again").AwaitCommand().SendLine("-ERR unknown command");
  s.AwaitCommand().SendLine("+OK").AwaitCommand().Delay(300).SendLine("+OK");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StaleMarks,
    ::testing::Values(StaleRow{"disconnect_before_the_greeting", NoGreeting, 0, false, {"quit"}},
                      StaleRow{"disconnect_during_a_slow_pass", SlowPass, 3, false,
                               {"capa", "user alice", "pass secret", "quit"}},
                      StaleRow{"disconnect_before_a_late_pass_reply", PassAnsweredLate, 3, false,
                               {"capa", "user alice", "pass secret", "quit"}},
                      StaleRow{"close_before_the_greeting", NoGreeting, 0, true, {"quit"}},
                      StaleRow{"close_during_a_slow_pass", SlowPass, 3, true,
                               {"capa", "user alice", "pass secret", "quit"}}),
    RowName<StaleRow>);

TEST_F(DisconnectTest, MarksOfADroppedConnectionAreNotDeletedAfterAReconnect) {
  ScriptedPop3Server server;
  // The first connection drops in the middle of its listing.
  server.SendLine("+OK ready").AwaitCommand().SendLine("-ERR unknown command");  // capa: no STLS
  server.AwaitCommand().SendLine("+OK").AwaitCommand().SendLine("+OK");
  server.AwaitCommand().SendLine("-ERR unknown command");  // capa
  server.AwaitCommand().SendLine("+OK").SendLine("1 100").SendLine("2 100").SendLine(".");
  server.AwaitCommand().SendLine("+OK").SendLine("Subject: one").SendLine(".");
  server.AwaitCommand().CloseConnection();
  SlowPass(server);
  Connect(server.Port());
  QPointer<TForm1> w = Window();
  ASSERT_TRUE(server.WaitForConnectionsEnded(1));
  ASSERT_FALSE(w->btnDisconnect->isEnabled());
  ASSERT_EQ(w->ListView1->topLevelItemCount(), 2);
  Tick({1, 2});
  const size_t firstCount = server.Commands().size();

  When([&] { return w->btnDisconnect->isEnabled() && server.Commands().size() >= firstCount + 3; },
       [&] { w->btnDisconnect->click(); });
  w->btnConnect->click();
  ASSERT_TRUE(server.WaitForConnectionsEnded(2));
  EXPECT_EQ(From(server.Commands(), firstCount),
            (std::vector<std::string>{"capa", "user alice", "pass secret", "quit"}));
  EXPECT_TRUE(dialogs_.questions.empty());
  EXPECT_EQ(Ticks(), (std::vector<bool>{true, true}));
}

TEST_F(DisconnectTest, TicksOnTheNewListingDeleteExactlyThoseRows) {
  ScriptedPop3Server server;
  LoginListing(server, 3);
  server.AwaitCommand().AwaitClientClose();  // quit
  LoginListing(server, 2);
  server.AwaitCommand().SendLine("+OK").AwaitCommand();  // dele 2, quit
  Connect(server.Port());
  TForm1* w = Window();
  Tick({1, 3});
  dialogs_.answers = {false};  // Cancel, then leave without deleting
  w->btnDisconnect->click();
  ASSERT_TRUE(w->btnDisconnect->isEnabled());
  for (int i = 0; i < 3; ++i) w->ListView1->topLevelItem(i)->setCheckState(ColNumber, Qt::Unchecked);
  w->btnDisconnect->click();
  ASSERT_TRUE(server.WaitForConnectionsEnded(1));
  const size_t firstCount = server.Commands().size();

  Connect(server.Port());
  ASSERT_EQ(w->ListView1->topLevelItemCount(), 2);
  EXPECT_EQ(w->RowConnection(0), w->ConnectionId());
  Tick({2});
  w->btnDisconnect->click();
  ASSERT_TRUE(server.WaitForConnectionsEnded(2));
  std::vector<std::string> second = ListingCommands(2);
  second.insert(second.end(), {"dele 2", "quit"});
  EXPECT_EQ(From(server.Commands(), firstCount), second);
  EXPECT_EQ(dialogs_.questions.size(), 2u);
}

// ---- a "dele" never answered ----

struct UnansweredRow {
  const char* name;
  int replyMs, closeMs;  // the window's bounds for the test
  enum Action { Click, Close, CloseWhileWaiting } action;
  bool told;  // the message box about unconfirmed deletions
};
void PrintTo(const UnansweredRow& row, std::ostream* os) { *os << row.name; }

class UnansweredDele : public DisconnectTest, public ::testing::WithParamInterface<UnansweredRow> {};

TEST_P(UnansweredDele, ClosesWithinTheBoundAndSendsNothingMore) {
  const UnansweredRow& row = GetParam();
  ScriptedPop3Server server;
  LoginListing(server, 0);
  server.AwaitCommand();  // "dele 3", never answered
  Connect(server.Port());
  QPointer<TForm1> w = Window();
  w->SetDisconnectBounds(std::chrono::milliseconds(row.replyMs), std::chrono::milliseconds(row.closeMs));
  AddRows(3, {1, 3});
  const auto start = Clock::now();
  if (row.action == UnansweredRow::Click) {
    w->btnDisconnect->click();
  } else if (row.action == UnansweredRow::Close) {
    w->close();
  } else {
    When([&] { return server.Commands().size() == 6; }, [&] { w->close(); });
    w->btnDisconnect->click();
  }
  const double took = Seconds(Clock::now() - start);
  const double bound = std::min(row.replyMs, row.closeMs) / 1000.0;
  EXPECT_GE(took, bound * 0.9) << "gave up before the bound";
  // Generous: only a wait that ignores the bound (the server never answers)
  // gets anywhere near.
  EXPECT_LT(took, bound + 5.0);
  ASSERT_TRUE(server.WaitForConnectionsEnded(1, 2000)) << "connection left open";
  EXPECT_EQ(From(server.Commands(), 5), (std::vector<std::string>{"dele 3"}));
  EXPECT_EQ(dialogs_.questions.size(), 1u) << "a close during the disconnect asked again";
  if (row.told) {
    EXPECT_EQ(dialogs_.messages, (std::vector<std::string>{UnconfirmedDeletionMessage()}));
  } else {
    EXPECT_TRUE(dialogs_.messages.empty());
  }
  EXPECT_TRUE(dialogs_.errors.empty());
  DrainEvents();
  EXPECT_EQ(w.isNull(), row.action != UnansweredRow::Click);
  if (w) {
    EXPECT_FALSE(w->btnDisconnect->isEnabled());
    EXPECT_TRUE(w->btnConnect->isEnabled());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, UnansweredDele,
    ::testing::Values(UnansweredRow{"disconnect_click", 800, 5000, UnansweredRow::Click, true},
                      UnansweredRow{"window_close", 5000, 800, UnansweredRow::Close, false},
                      UnansweredRow{"close_while_a_disconnect_waits", 30000, 800, UnansweredRow::CloseWhileWaiting,
                                    false}),
    RowName<UnansweredRow>);

// An exchange that finishes in its own way, with no regard for the deadline.
class StubbornExchange : public OutstandingExchange {
 public:
  explicit StubbornExchange(TIdTCPConnection& connection) : connection_(connection) {}
  bool Finish(Deadline) override {
    finished_ = true;
    try {
      test::LineClient(connection_).ReadLine();
      return true;
    } catch (...) {
      return false;
    }
  }

 private:
  TIdTCPConnection& connection_;
};

TEST_F(DisconnectTest, ACloseEndsWithinItsBoundEvenWhenAnExchangeIgnoresIt) {
  ScriptedPop3Server server;
  LoginListing(server, 0);
  Connect(server.Port());
  QPointer<TForm1> w = Window();
  w->SetDisconnectBounds(30s, 800ms);
  AddRows(2, {1});
  const auto start = Clock::now();
  {
    StubbornExchange owed(w->IdTCPClient1);
    ExchangeGuard exchange(*w);
    OutstandingScope scope(*w, owed);
    w->close();
    EXPECT_TRUE(owed.Finished());
  }
  const double took = Seconds(Clock::now() - start);
  EXPECT_GE(took, 0.7);
  EXPECT_LT(took, 5.0);
  ASSERT_TRUE(server.WaitForConnectionsEnded(1, 2000));
  // Nothing after the reply that did not come: no "dele", no "quit".
  EXPECT_EQ(server.Commands(), kLogin);
  EXPECT_TRUE(dialogs_.messages.empty());
  DrainEvents();
  EXPECT_TRUE(w.isNull());
}

TEST(DisconnectBounds, DefaultsAreThirtySecondsPerReplyAndTenForAClose) {
  TestApplication();
  TForm1 w;
  EXPECT_EQ(w.DisconnectReplyBound(), 30000ms);
  EXPECT_EQ(w.CloseBound(), 10000ms);
}

// ---- a disconnect during another exchange ----

// What the user is told at the end.
enum class Told {
  Nothing,        // every marked message was deleted
  NoAnswer,       // the server did not answer in time
  NotFoundAgain,  // the marked messages could not be found again on a fresh connection
};

struct DuringRow {
  const char* name;
  Script exchange;  // the server's side of the exchange the disconnect interrupts
  std::string trigger;  // the command after which the user clicks Disconnect
  std::vector<std::string> after;  // what the client sends after the trigger
  Told told;
  std::function<void(TForm1*)> start = nullptr;  // starts the exchange; the preview of row 1 when empty
  // The server ends its reply this late: a "dele" on the same connection
  // before it would take a line of the reply for its own.
  double notBefore = 0;
  // The click comes this long after the trigger, once the reply is partly in.
  double clickAfter = 0;
};
void PrintTo(const DuringRow& row, std::ostream* os) { *os << row.name; }

class DisconnectDuring : public DisconnectTest, public ::testing::WithParamInterface<DuringRow> {};

TEST_P(DisconnectDuring, NeverSendsADeleIntoAnOwedReply) {
  const DuringRow& row = GetParam();
  ScriptedPop3Server server;
  LoginListing(server, 0);
  row.exchange(server);
  server.AwaitCommand().SendLine("+OK").AwaitCommand().SendLine("+OK").AwaitCommand();  // dele 3, dele 1, quit
  uint32_t now = 1000;
  SetTickSource([&] { return now; });
  Connect(server.Port());
  TForm1* w = Window();
  w->SetDisconnectBounds(800ms, 800ms);
  AddRows(3, {1, 3});
  w->ListView1->topLevelItem(0)->setSelected(true);
  std::optional<Clock::time_point> triggered;
  When(
      [&] {
        if (!triggered && server.Commands().size() == 6 && server.Commands().back() == row.trigger)
          triggered = Clock::now();
        return triggered && Seconds(Clock::now() - *triggered) >= row.clickAfter;
      },
      [&] { w->btnDisconnect->click(); });
  const auto start = Clock::now();
  if (row.start) {
    now += 120001;
    row.start(w);
  } else {
    w->btnFirst100->click();
  }
  const double took = Seconds(Clock::now() - start);
  EXPECT_LT(took, 6.0);
  EXPECT_GE(took, row.notBefore) << "the owed reply was not read to its end first";
  ASSERT_TRUE(server.WaitForConnectionsEnded(1, 3000)) << "connection left open";
  EXPECT_EQ(From(server.Commands(), 6), row.after);
  switch (row.told) {
    case Told::Nothing:
      EXPECT_TRUE(dialogs_.messages.empty());
      break;
    case Told::NoAnswer:
      EXPECT_EQ(dialogs_.messages, (std::vector<std::string>{UnconfirmedDeletionMessage()}));
      break;
    case Told::NotFoundAgain: {
      // The server answered all along: the user is told why each marked
      // message stayed, never that the server did not answer.
      CopyThenDeleteResult stayed;
      stayed.messages = {{3, "", StayReason::NoUniqueId, ""}, {1, "", StayReason::NoUniqueId, ""}};
      EXPECT_EQ(dialogs_.messages, (std::vector<std::string>{StayedOnServerText(stayed, true)}));
      EXPECT_LT(took, 1.0) << "the owed reply was waited for";
      break;
    }
  }
  // The interrupted exchange ends without a word.
  EXPECT_TRUE(dialogs_.errors.empty());
  EXPECT_FALSE(w->btnDisconnect->isEnabled());
}

const std::vector<std::string> kDeleted{"dele 3", "dele 1", "quit"};

// One keep-alive tick, run as the timer runs it.
void KeepAliveTick(TForm1* w) {
  HandlerScope scope(*w);
  RunHandler(w, [w] { w->Timer1Timer(); });
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DisconnectDuring,
    ::testing::Values(
        // A preview's reply may be long: it is not waited for. The connection
        // goes without "quit", and a server that gives no unique ids leaves
        // no way to find the marked messages again on a fresh one.
        DuringRow{"preview_body_that_ends_later",
                  [](ScriptedPop3Server& s) {
                    s.AwaitCommand().SendLine("+OK").SendLine("first").Delay(400).SendLine("..second").SendLine(".");
                  },
                  "top 1 100", {}, Told::NotFoundAgain, nullptr, 0, 0.1},
        DuringRow{"preview_last_line_late",
                  [](ScriptedPop3Server& s) {
                    s.AwaitCommand().SendLine("+OK").Send("first\r\n.").Delay(600).Send("\r\n");
                  },
                  "top 1 100", {}, Told::NotFoundAgain, nullptr, 0, 0.3},
        DuringRow{"preview_status_line_late",
                  [](ScriptedPop3Server& s) { s.AwaitCommand().Delay(300).SendLine("+OK").SendLine("a").SendLine("."); },
                  "top 1 100", {}, Told::NotFoundAgain},
        DuringRow{"preview_refused_late",
                  [](ScriptedPop3Server& s) { s.AwaitCommand().Delay(300).SendLine("-ERR no such message"); },
                  "top 1 100", {}, Told::NotFoundAgain},
        DuringRow{"preview_body_never_ends",
                  [](ScriptedPop3Server& s) { s.AwaitCommand().SendLine("+OK").SendLine("first"); }, "top 1 100", {},
                  Told::NotFoundAgain},
        DuringRow{"preview_body_streams_without_end",
                  [](ScriptedPop3Server& s) {
                    s.AwaitCommand().SendLine("+OK").SendSplit(std::string(400000, 'x'), 2000, 10);
                  },
                  "top 1 100", {}, Told::NotFoundAgain},
        // A status line alone is read, and the deletion goes on the same
        // connection.
        DuringRow{"keep_alive_reply_late", [](ScriptedPop3Server& s) { s.AwaitCommand().Delay(300).SendLine("+OK"); },
                  "noop", kDeleted, Told::Nothing, KeepAliveTick, 0.25},
        DuringRow{"keep_alive_never_answered", [](ScriptedPop3Server& s) { s.AwaitCommand(); }, "noop", {},
                  Told::NoAnswer, KeepAliveTick}),
    RowName<DuringRow>);

}  // namespace
}  // namespace brevan::testing
