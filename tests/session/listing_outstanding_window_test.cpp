// A disconnect or a closing window in the middle of a listing, pipelined or
// one command at a time: the listing's connection is dropped without a word,
// and the DELEs, on a fresh connection where the rows are found again by
// their unique ids, are exactly the rows ticked when the user confirmed.
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "app/qt_text.h"
#include "session/TForm1.h"
#include "session_lifecycle_support.h"
#include "tests/support/scripted_pop3_server.h"

namespace brevan::testing {
namespace {

using brevan::test::ScriptedPop3Server;

constexpr int kMessages = 4;

std::string TopReply(int k) { return "+OK\r\nSubject: hello " + std::to_string(k) + "\r\n.\r\n"; }

// The unique ids of the mailbox, the same on every connection.
std::string UidlReply() {
  std::string reply = "+OK\r\n";
  for (int k = 1; k <= kMessages; ++k) reply += std::to_string(k) + " id-" + std::to_string(k) + "\r\n";
  return reply + ".\r\n";
}

// CAPA (no STLS), login, CAPA; commands counted from first (1-based).
void LogIn(ScriptedPop3Server& s, bool pipelining, bool uidl, size_t first) {
  s.SendLine("+OK ready").AwaitCommands(first).SendLine("-ERR unknown command");
  s.AwaitCommands(first + 1).SendLine("+OK").AwaitCommands(first + 2).SendLine("+OK");
  std::string capa = "+OK\r\nTOP\r\n";
  if (uidl) capa += "UIDL\r\n";
  if (pipelining) capa += "PIPELINING\r\n";
  s.AwaitCommands(first + 3).Send(capa + ".\r\n");
}

// The login, LIST and, where offered, UIDL; the TOP replies follow per row.
void LoginAndList(ScriptedPop3Server& s, bool pipelining, bool uidl) {
  LogIn(s, pipelining, uidl, 1);
  std::string list = "+OK\r\n";
  for (int k = 1; k <= kMessages; ++k) list += std::to_string(k) + " 100\r\n";
  s.AwaitCommands(5).Send(list + ".\r\n");
  if (uidl) s.AwaitCommands(6).Send(UidlReply());
}

enum class Ending { DisconnectClick, WindowClose };

struct OwedRow {
  const char* name;
  bool pipelining;
  Ending ending;
};
void PrintTo(const OwedRow& row, std::ostream* os) { *os << row.name; }

class ListingInterrupted : public WindowTest, public ::testing::WithParamInterface<OwedRow> {};

TEST_P(ListingInterrupted, ThenExactlyTheTickedRowsAreDeletedOnAFreshConnection) {
  const OwedRow& row = GetParam();
  ScriptedPop3Server server;
  LoginAndList(server, row.pipelining, true);
  size_t sent = 6;  // capa, user, pass, capa, list, uidl
  if (row.pipelining) {
    // Every TOP is out before any reply; replies 3 and 4 are never sent.
    sent += kMessages;
    server.AwaitCommands(sent).Send(TopReply(1) + TopReply(2));
  } else {
    server.AwaitCommands(++sent).Send(TopReply(1)).AwaitCommands(++sent).Send(TopReply(2));
    server.AwaitCommands(++sent);
  }
  server.AwaitClientClose();
  // The fresh connection of the deletion.
  LogIn(server, row.pipelining, true, sent + 1);
  sent += 4;
  server.AwaitCommands(++sent).Send(UidlReply());
  server.AwaitCommands(++sent).SendLine("+OK").AwaitCommands(++sent).SendLine("+OK").AwaitCommands(++sent);
  server.SendLine("+OK bye");

  QPointer<TForm1> w = new TForm1;
  w->ComboBox1->setEditText("127.0.0.1");
  w->Edit4->setText("alice");
  w->Edit2->setText("secret");
  w->Edit3->setText(QString::number(server.Port()));
  bool acted = false;
  QTimer user;
  QObject::connect(&user, &QTimer::timeout, [&] {
    if (acted || !w || w->ListView1->topLevelItemCount() < 2 || w->RowText(1, ColSubject).empty()) return;
    acted = true;
    // By hand while the listing runs: rows 1 and 2 ticked, the question
    // answered Yes, then the disconnect or the close.
    w->ListView1->topLevelItem(0)->setCheckState(ColNumber, Qt::Checked);
    w->ListView1->topLevelItem(1)->setCheckState(ColNumber, Qt::Checked);
    dialogs_.answers = {true};
    if (row.ending == Ending::DisconnectClick) {
      w->btnDisconnect->click();
    } else {
      w->close();
    }
  });
  user.start(5);
  w->btnConnect->click();  // the login and the listing, with the user's acts inside
  user.stop();
  ASSERT_TRUE(acted);
  ASSERT_TRUE(server.WaitForConnectionsEnded(2));

  std::vector<std::string> wanted = {"capa", "user alice", "pass secret", "capa", "list", "uidl"};
  const int topsSent = row.pipelining ? kMessages : 3;
  for (int k = 1; k <= topsSent; ++k) wanted.push_back("top " + std::to_string(k) + " 0");
  // Nothing more on the listing's connection; the deletion on a fresh one.
  for (const char* tail : {"capa", "user alice", "pass secret", "capa", "uidl", "dele 2", "dele 1", "quit"})
    wanted.push_back(tail);
  EXPECT_EQ(server.Commands(), wanted);
  EXPECT_EQ(dialogs_.questions.size(), 1u);
  EXPECT_TRUE(dialogs_.errors.empty()) << dialogs_.errors.front();
  EXPECT_TRUE(dialogs_.messages.empty());

  if (row.ending == Ending::WindowClose) {
    DrainEvents();
    EXPECT_TRUE(w.isNull());
    return;
  }
  ASSERT_FALSE(w.isNull());
  // The listing ended where the disconnect came: the rows listed so far stay
  // with the marks the user set (row 3, whose reply was awaited, with number
  // and size only), and the buttons are back.
  ASSERT_EQ(w->ListView1->topLevelItemCount(), 3);
  EXPECT_EQ(w->RowText(2, ColSize), "100");
  EXPECT_TRUE(w->RowText(2, ColSubject).empty());
  EXPECT_FALSE(w->RowTicked(2));
  EXPECT_TRUE(w->RowTicked(0));
  EXPECT_TRUE(w->RowTicked(1));
  EXPECT_TRUE(w->btnConnect->isEnabled());
  EXPECT_FALSE(w->btnDisconnect->isEnabled());
  EXPECT_TRUE(w->btnRetrieveHeader->isEnabled());
  delete w.data();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ListingInterrupted,
    ::testing::Values(OwedRow{"pipelined_disconnect", true, Ending::DisconnectClick},
                      OwedRow{"pipelined_window_close", true, Ending::WindowClose},
                      OwedRow{"sequential_disconnect", false, Ending::DisconnectClick},
                      OwedRow{"sequential_window_close", false, Ending::WindowClose}),
    [](const ::testing::TestParamInfo<OwedRow>& info) { return std::string(info.param.name); });

// A refresh whose connection is lost after reply `kept` of a pipelined run.
class LostAfterEveryReply : public WindowTest, public ::testing::WithParamInterface<int> {};

TEST_P(LostAfterEveryReply, KeepsTheRowsSoFarAndShowsTheError) {
  const int kept = GetParam();
  ScriptedPop3Server server;
  LoginAndList(server, true, false);
  std::string all;
  for (int k = 1; k <= kMessages; ++k) all += TopReply(k);
  server.AwaitCommands(5 + kMessages).Send(all);
  // The refresh: LIST again, every TOP out, then replies up to `kept`.
  std::string list = "+OK\r\n";
  for (int k = 1; k <= kMessages; ++k) list += std::to_string(k) + " 200\r\n";
  server.AwaitCommands(6 + kMessages).Send(list + ".\r\n");
  std::string some;
  for (int k = 1; k <= kept; ++k) some += TopReply(k);
  server.AwaitCommands(6 + 2 * kMessages).Send(some).CloseConnection();

  QPointer<TForm1> w = new TForm1;
  w->ComboBox1->setEditText("127.0.0.1");
  w->Edit4->setText("alice");
  w->Edit2->setText("secret");
  w->Edit3->setText(QString::number(server.Port()));
  w->btnConnect->click();
  ASSERT_EQ(w->ListView1->topLevelItemCount(), kMessages);
  w->btnRetrieveHeader->click();

  EXPECT_EQ(dialogs_.errors, std::vector<std::string>{"Connection Closed Gracefully."});
  // Rows up to the one whose reply was lost; that one has number and size.
  const int rows = kept < kMessages ? kept + 1 : kMessages;
  ASSERT_EQ(w->ListView1->topLevelItemCount(), rows);
  for (int r = 0; r < rows; ++r) {
    EXPECT_EQ(w->RowText(r, ColSize), "200");
    EXPECT_EQ(w->RowText(r, ColSubject), r < kept ? "hello " + std::to_string(r + 1) : "") << "row " << r + 1;
  }
  EXPECT_TRUE(w->btnRetrieveHeader->isEnabled());
  EXPECT_TRUE(w->btnFirst100->isEnabled());
  EXPECT_TRUE(w->btnConnect->isEnabled());
  EXPECT_FALSE(w->btnDisconnect->isEnabled());
  delete w.data();
}

INSTANTIATE_TEST_SUITE_P(Replies, LostAfterEveryReply, ::testing::Range(0, kMessages),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return "after_reply_" + std::to_string(info.param);
                         });

}  // namespace
}  // namespace brevan::testing
