// The connection lifecycle against a real Dovecot: a refused login shows
// Dovecot's own line, and a session over TLS on port 995 deletes what was
// ticked, which the next login no longer lists.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include "app/qt_text.h"
#include "session/TForm1.h"
#include "session_lifecycle_support.h"
#include "tests/support/dovecot_server.h"

namespace brevan::testing {
namespace {

using brevan::test::DovecotOptions;
using brevan::test::DovecotServer;

DovecotOptions ThreeMessages() {
  DovecotOptions options;
  options.user = "bob";
  options.password = "secret";
  for (int i = 1; i <= 3; ++i)
    options.messages.push_back("From: a@example.com\nSubject: note " + std::to_string(i) + "\n\nbody\n");
  return options;
}

class DovecotSession : public WindowTest {
 protected:
  void Connect(TForm1& w, int port, const char* password, const QString& portText = {}) {
    w.ComboBox1->setEditText("127.0.0.1");
    w.Edit4->setText("bob");
    w.Edit2->setText(password);
    w.Edit3->setText(portText.isEmpty() ? QString::number(port) : portText);
    w.btnConnect->click();
  }
  static int Rows(const TForm1& w) { return w.ListView1->topLevelItemCount(); }
};

TEST_F(DovecotSession, RefusedPasswordShowsTheServerLine) {
  if (const std::string why = DovecotServer::Unavailable(false); !why.empty()) GTEST_SKIP() << why;
  DovecotServer server(ThreeMessages());
  TForm1 w;
  Connect(w, server.PlainPort(), "wrong");
  ASSERT_EQ(dialogs_.messages.size(), 1u) << server.LogText();
  EXPECT_EQ(dialogs_.messages[0].substr(0, 5), "-ERR ");
  EXPECT_FALSE(w.btnDisconnect->isEnabled());
  EXPECT_TRUE(w.btnConnect->isEnabled());
}

TEST_F(DovecotSession, TlsSessionDeletesTheTickedMessage) {
  if (const std::string why = DovecotServer::Unavailable(true); !why.empty()) GTEST_SKIP() << why;
  DovecotOptions options = ThreeMessages();
  options.tls995 = true;
  DovecotServer server(options);
  TForm1 w;
  Connect(w, server.TlsPort(), "secret", "995");
  ASSERT_TRUE(w.btnDisconnect->isEnabled()) << server.LogText();
  ASSERT_EQ(Rows(w), 3);
  w.ListView1->topLevelItem(1)->setCheckState(ColNumber, Qt::Checked);
  dialogs_.answers = {true};
  w.btnDisconnect->click();
  EXPECT_FALSE(w.btnDisconnect->isEnabled());

  Connect(w, server.TlsPort(), "secret", "995");
  ASSERT_TRUE(w.btnDisconnect->isEnabled());
  ASSERT_EQ(Rows(w), 2);
  EXPECT_EQ(FromQt(w.ListView1->topLevelItem(0)->text(ColSubject)), "note 1");
  EXPECT_EQ(FromQt(w.ListView1->topLevelItem(1)->text(ColSubject)), "note 3");
  w.btnDisconnect->click();
  EXPECT_TRUE(dialogs_.messages.empty());
  EXPECT_TRUE(dialogs_.errors.empty());
}

}  // namespace
}  // namespace brevan::testing
