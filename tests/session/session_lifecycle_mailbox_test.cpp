// Whole sessions against the test mailbox server: log in (plain and over
// TLS), list, delete the ticked messages at disconnect, and find them gone
// after the next login.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <memory>

#include "app/qt_text.h"
#include "session/TForm1.h"
#include "session_lifecycle_support.h"
#include "tests/support/scripted_pop3_server.h"

namespace brevan::testing {
namespace {

using brevan::test::Pop3Mailbox;
using brevan::test::ScriptedPop3Server;

Pop3Mailbox FiveMessages() {
  Pop3Mailbox box;
  box.user = "alice";
  box.password = "secret";
  for (int i = 1; i <= 5; ++i)
    box.messages.push_back("From: sender" + std::to_string(i) + "@example.com\r\nSubject: note " +
                           std::to_string(i) + "\r\n\r\nbody " + std::to_string(i) + "\r\n");
  return box;
}

class MailboxSession : public WindowTest {
 protected:
  void Connect(TForm1& w, int port, const char* portText = nullptr) {
    w.ComboBox1->setEditText("127.0.0.1");
    w.Edit4->setText("alice");
    w.Edit2->setText("secret");
    w.Edit3->setText(portText ? QString(portText) : QString::number(port));
    w.btnConnect->click();
  }
  static std::vector<std::string> Subjects(const TForm1& w) {
    std::vector<std::string> subjects;
    for (int i = 0; i < w.ListView1->topLevelItemCount(); ++i)
      subjects.push_back(FromQt(w.ListView1->topLevelItem(i)->text(ColSubject)));
    return subjects;
  }
};

TEST_F(MailboxSession, TickedMessagesAreGoneAfterTheNextLogin) {
  ScriptedPop3Server server;
  server.ServeMailbox(FiveMessages());
  TForm1 w;
  Connect(w, server.Port());
  ASSERT_TRUE(w.btnDisconnect->isEnabled());
  ASSERT_EQ(w.ListView1->topLevelItemCount(), 5);
  w.ListView1->topLevelItem(0)->setCheckState(ColNumber, Qt::Checked);
  w.ListView1->topLevelItem(2)->setCheckState(ColNumber, Qt::Checked);
  dialogs_.answers = {true};
  w.btnDisconnect->click();
  ASSERT_TRUE(server.WaitForConnectionsEnded(1));
  EXPECT_EQ(server.RemainingMessageNumbers(), (std::vector<int>{2, 4, 5}));
  // The rows stay on screen until the next listing.
  EXPECT_EQ(w.ListView1->topLevelItemCount(), 5);

  Connect(w, server.Port());
  ASSERT_TRUE(w.btnDisconnect->isEnabled());
  EXPECT_EQ(Subjects(w), (std::vector<std::string>{"note 2", "note 4", "note 5"}));
  w.btnDisconnect->click();
  EXPECT_TRUE(dialogs_.messages.empty());
  EXPECT_TRUE(dialogs_.errors.empty());
}

TEST_F(MailboxSession, WrongPasswordShowsTheServerLine) {
  ScriptedPop3Server server;
  Pop3Mailbox box = FiveMessages();
  box.password = "other";
  server.ServeMailbox(box);
  TForm1 w;
  Connect(w, server.Port());
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0].substr(0, 4), "-ERR");
  EXPECT_FALSE(w.btnDisconnect->isEnabled());
  EXPECT_EQ(server.RemainingMessageNumbers(), (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST_F(MailboxSession, PortText995LogsInOverTls) {
  if (::geteuid() != 0) GTEST_SKIP() << "port 995 needs root";
  ScriptedPop3Server server(ScriptedPop3Server::Mode::Tls, 995);
  server.ServeMailbox(FiveMessages());
  TForm1 w;
  Connect(w, 995, "995");
  EXPECT_TRUE(dialogs_.messages.empty());
  ASSERT_TRUE(w.btnDisconnect->isEnabled());
  EXPECT_EQ(w.ListView1->topLevelItemCount(), 5);
  w.ListView1->topLevelItem(4)->setCheckState(ColNumber, Qt::Checked);
  w.btnDisconnect->click();
  ASSERT_TRUE(server.WaitForConnectionsEnded(1));
  EXPECT_EQ(server.RemainingMessageNumbers(), (std::vector<int>{1, 2, 3, 4}));
  EXPECT_TRUE(dialogs_.errors.empty());
}

}  // namespace
}  // namespace brevan::testing
