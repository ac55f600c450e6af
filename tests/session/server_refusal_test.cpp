// A hostile refusal reaches the user cleaned, whichever command it answers:
// the login's USER and PASS, the preview's TOP and the download's RETR.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <functional>
#include <memory>
#include <ostream>

#include "app/qt_text.h"
#include "session/TForm1.h"
#include "session_lifecycle_support.h"
#include "tests/support/scripted_pop3_server.h"

namespace brevan::testing {
namespace {

using brevan::test::ScriptedPop3Server;

// A refusal with terminal escapes after a Big5 lead byte, a bare CR, and far
// more text than a box should hold.
const std::string kHostile = "-ERR \xB3\x1B[2J\xA4\r" + std::string(700, 'z');
// What the box shows: each control byte and each lead byte without its
// trail byte as "?", cut after 512 bytes.
const std::string kShown = "-ERR ??[2J??" + std::string(512 - 12, 'z') + "...";

struct RefusalRow {
  const char* name;
  // The server's side up to the refusal.
  std::function<void(ScriptedPop3Server&)> script;
  // What the user does after connecting: click the preview or the download
  // on the one row, or nothing (the login itself is refused).
  QPushButton* TForm1::*button;
};
void PrintTo(const RefusalRow& row, std::ostream* os) { *os << row.name; }

// The login, then a listing of one message whose header block is empty.
// The greeting and the CAPA before USER, refused: a server without STLS.
ScriptedPop3Server& Greet(ScriptedPop3Server& s) {
  return s.SendLine("+OK ready").AwaitCommand().SendLine("-ERR unknown command");
}

void LoginWithOneMessage(ScriptedPop3Server& s) {
  Greet(s).AwaitCommand().SendLine("+OK").AwaitCommand().SendLine("+OK");
  s.AwaitCommand().SendLine("-ERR unknown command");  // capa
  s.AwaitCommand().SendLine("+OK").SendLine("1 10").SendLine(".");
  s.AwaitCommand().SendLine("+OK").SendLine(".");
}

class RefusalShown : public WindowTest, public ::testing::WithParamInterface<RefusalRow> {};

TEST_P(RefusalShown, CleanedAndCut) {
  const RefusalRow& row = GetParam();
  ScriptedPop3Server server;
  row.script(server);
  auto w = std::make_unique<TForm1>();
  w->ComboBox1->setEditText("127.0.0.1");
  w->Edit4->setText("alice");
  w->Edit2->setText("secret");
  w->Edit3->setText(QString::number(server.Port()));
  w->btnConnect->click();
  if (row.button) {
    ASSERT_EQ(w->ListView1->topLevelItemCount(), 1);
    w->ListView1->topLevelItem(0)->setSelected(true);
    (w.get()->*row.button)->click();
  }
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0], kShown);
  EXPECT_TRUE(dialogs_.errors.empty());
  if (w->btnDisconnect->isEnabled()) w->btnDisconnect->click();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RefusalShown,
    ::testing::Values(
        RefusalRow{"user_refused",
                   [](ScriptedPop3Server& s) { Greet(s).AwaitCommand().SendLine(kHostile); },
                   nullptr},
        RefusalRow{"pass_refused",
                   [](ScriptedPop3Server& s) {
                     Greet(s).AwaitCommand().SendLine("+OK").AwaitCommand().SendLine(kHostile);
                   },
                   nullptr},
        RefusalRow{"top_refused",
                   [](ScriptedPop3Server& s) {
                     LoginWithOneMessage(s);
                     s.AwaitCommand().SendLine(kHostile);
                   },
                   &TForm1::btnFirst100},
        RefusalRow{"retr_refused",
                   [](ScriptedPop3Server& s) {
                     LoginWithOneMessage(s);
                     s.AwaitCommand().SendLine(kHostile);
                   },
                   &TForm1::btnDownload}),
    [](const ::testing::TestParamInfo<RefusalRow>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace brevan::testing
