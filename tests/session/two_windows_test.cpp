// Two session windows on two accounts at once: each logs in with its own
// user, downloads into its own folder and keeps its own connection alive,
// whatever the other window does meanwhile.
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <cstdint>
#include <string>
#include <vector>

#include "app/qt_text.h"
#include "common/file_io.h"
#include "session/TForm1.h"
#include "session/message_file.h"
#include "session_lifecycle_support.h"
#include "tests/support/scripted_pop3_server.h"

namespace brevan::testing {
namespace {

using brevan::test::Pop3Fault;
using brevan::test::Pop3Mailbox;
using brevan::test::ScriptedPop3Server;

Pop3Mailbox Box(const std::string& user, const std::string& password, const std::string& subject) {
  Pop3Mailbox box;
  box.user = user;
  box.password = password;
  box.messages = {"Subject: " + subject + "\r\n\r\nbody\r\n"};
  return box;
}

void Fill(TForm1& w, int port, const char* user, const char* password) {
  w.ComboBox1->setEditText("127.0.0.1");
  w.Edit4->setText(user);
  w.Edit2->setText(password);
  w.Edit3->setText(QString::number(port));
}

class TwoWindowsTest : public WindowTest {
 protected:
  void TearDown() override {
    delete first_.data();
    delete second_.data();
    WindowTest::TearDown();
  }
  QPointer<TForm1> first_;
  QPointer<TForm1> second_;
};

TEST_F(TwoWindowsTest, EachWindowKeepsItsUserFolderAndKeepAlive) {
  first_ = new TForm1;
  second_ = new TForm1;
  uint32_t now = 1000;
  SetTickSource([&] { return now; });
  ScriptedPop3Server serverA;
  serverA.ServeMailbox(Box("alice", "a-secret", "for alice"));
  // Alice's server greets late: bob connects in the other window meanwhile.
  serverA.InjectFault(0, {Pop3Fault::Delay, 800});
  ScriptedPop3Server serverB;
  serverB.ServeMailbox(Box("bob", "b-secret", "for bob"));

  Fill(*first_, serverA.Port(), "alice", "a-secret");
  bool secondLoggedIn = false;
  QTimer::singleShot(100, second_.data(), [&] {
    Fill(*second_, serverB.Port(), "bob", "b-secret");
    second_->btnConnectClick();
    secondLoggedIn = second_->IsConnected();
  });
  first_->btnConnectClick();
  ASSERT_TRUE(secondLoggedIn);
  ASSERT_TRUE(first_->IsConnected());
  ASSERT_EQ(first_->ListView1->topLevelItemCount(), 1);
  const std::vector<std::string> commands = serverA.Commands();
  ASSERT_GE(commands.size(), 3u);
  EXPECT_EQ(commands[0], "capa");
  EXPECT_EQ(commands[1], "user alice") << "alice's credentials go to alice's server only";
  EXPECT_EQ(commands[2], "pass a-secret");

  // Alice's download lands in alice's folder, though bob connected last.
  first_->ListView1->topLevelItem(0)->setSelected(true);
  RunHandler(first_.data(), [this] { first_->btnDownloadClick(); });
  EXPECT_TRUE(dialogs_.errors.empty());
  EXPECT_TRUE(DirectoryExists(DownloadFolder(Program().AppPath, "alice(127.0.0.1)")));
  EXPECT_FALSE(DirectoryExists(DownloadFolder(Program().AppPath, "bob(127.0.0.1)")));

  // Bob's window keeps busy; alice's window, idle since its download, still
  // sends its NOOP when its own idle time is over.
  now = 60000;
  RunHandler(second_.data(), [this] { second_->btnRetrieveHeaderClick(); });
  now = 1000 + 120001;
  RunHandler(first_.data(), [this] { first_->Timer1Timer(); });
  EXPECT_EQ(serverA.Commands().back(), "noop");
  EXPECT_NE(serverB.Commands().back(), "noop");
  EXPECT_TRUE(dialogs_.errors.empty());
}

}  // namespace
}  // namespace brevan::testing
