// The disconnect of a session window with copies kept (the default): each
// ticked message is retrieved and kept before its "dele", the progress bar
// follows, btnDisconnect cancels meanwhile, and one message names what stayed.
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <filesystem>
#include <optional>

#include "../session/session_lifecycle_support.h"
#include "app/qt_text.h"
#include "keep/keep_setting.h"
#include "keep/kept_copies.h"
#include "session/TForm1.h"
#include "tests/support/named_rows.h"
#include "tests/support/scripted_pop3_server.h"

namespace brevan::testing {
namespace {

namespace fs = std::filesystem;
using test::Pop3Fault;
using test::Pop3Mailbox;
using test::ScriptedPop3Server;

// Steps of the connection: greeting, capa, user, pass, capa, list, five tops.
constexpr int kFirstDeletionStep = 11;

struct KeepingRow {
  const char* name;
  bool pipelining;
  std::optional<Pop3Fault> faultAtFirst;  // on the reply to the first command of the deletion
  bool cancel;                            // btnDisconnect clicked while the first reply is awaited
  std::vector<std::string> commands;      // after the listing
  std::vector<int> remaining;
  size_t copies;
  bool told;  // one message at the end
};
void PrintTo(const KeepingRow& row, std::ostream* os) { *os << row.name; }

class KeepingDisconnect : public WindowTest, public ::testing::WithParamInterface<KeepingRow> {};

TEST_P(KeepingDisconnect, KeepsEachCopyBeforeItsDele) {
  const KeepingRow& row = GetParam();
  fs::remove(File(kKeepSettingFileName));  // the default: copies kept
  Pop3Mailbox box;
  for (int i = 1; i <= 5; ++i)
    box.messages.push_back("Subject: note " + std::to_string(i) + "\r\n\r\nbody " + std::to_string(i) + "\r\n");
  box.answersCapa = true;
  if (row.pipelining) box.capabilities = {"PIPELINING"};
  ScriptedPop3Server server;
  server.ServeMailbox(box);
  if (row.faultAtFirst) server.InjectFault(kFirstDeletionStep, *row.faultAtFirst);
  TForm1 w;
  w.ComboBox1->setEditText("127.0.0.1");
  w.Edit4->setText("user");
  w.Edit2->setText("password");
  w.Edit3->setText(QString::number(server.Port()));
  w.btnConnect->click();
  ASSERT_EQ(w.ListView1->topLevelItemCount(), 5);
  w.SetRowTicked(0, true);
  w.SetRowTicked(2, true);
  QString cancelCaption;
  if (row.cancel) {
    QTimer::singleShot(100, &w, [&] {
      cancelCaption = w.btnDisconnect->text();
      w.btnDisconnect->click();
    });
  }
  w.btnDisconnect->click();
  ASSERT_TRUE(server.WaitForConnectionsEnded(1));

  std::vector<std::string> sent = server.Commands();
  sent.erase(sent.begin(), std::find(sent.begin(), sent.end(), "top 5 0") + 1);
  EXPECT_EQ(sent, row.commands);
  EXPECT_EQ(server.RemainingMessageNumbers(), row.remaining);
  const std::vector<KeptCopy> copies = ListKeptCopies(folder_ + "/");
  EXPECT_EQ(copies.size(), row.copies);
  for (const KeptCopy& copy : copies) EXPECT_EQ(copy.account, "user(127.0.0.1)");
  EXPECT_EQ(dialogs_.messages.size(), row.told ? 1u : 0u);
  EXPECT_TRUE(dialogs_.errors.empty());
  if (row.cancel) EXPECT_EQ(cancelCaption, QString::fromUtf8("取消"));
  EXPECT_EQ(w.btnDisconnect->text(), QString::fromUtf8("中斷連線"));
  EXPECT_EQ(w.ProgressBar1->value(), w.ProgressBar1->maximum());
  EXPECT_EQ(w.ProgressBar1->maximum(), 4);
}

Pop3Fault Fault(Pop3Fault::Kind kind, int delayMs = 0) {
  Pop3Fault f;
  f.kind = kind;
  f.delayMs = delayMs;
  f.text = "no such message";
  return f;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, KeepingDisconnect,
    ::testing::Values(
        KeepingRow{"one_at_a_time", false, std::nullopt, false,
                   {"retr 3", "dele 3", "retr 1", "dele 1", "quit"}, {2, 4, 5}, 2, false},
        KeepingRow{"pipelined", true, std::nullopt, false,
                   {"retr 3", "retr 1", "dele 3", "dele 1", "quit"}, {2, 4, 5}, 2, false},
        KeepingRow{"refused_retr_stays", false, Fault(Pop3Fault::Error), false,
                   {"retr 3", "retr 1", "dele 1", "quit"}, {2, 3, 4, 5}, 1, true},
        KeepingRow{"cancelled", false, Fault(Pop3Fault::Delay, 500), true,
                   {"retr 3", "quit"}, {1, 2, 3, 4, 5}, 0, true}),
    RowName<KeepingRow>);

}  // namespace
}  // namespace brevan::testing
