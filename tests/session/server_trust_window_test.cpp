// Trust on first use on "995", through the session window: the certificate
// is judged after the handshake and before "user", and a refused changed
// certificate ends the connection with nothing sent and nothing shown.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <functional>
#include <memory>

#include "accounts/cert_store.h"
#include "app/qt_text.h"
#include "common/file_io.h"
#include "net/tls_peer.h"
#include "session/TForm1.h"
#include "session_lifecycle_support.h"
#include "tests/support/scripted_pop3_server.h"
#include "tests/support/test_tls.h"

namespace brevan::testing {
namespace {

using brevan::test::Pop3Mailbox;
using brevan::test::ScriptedPop3Server;
using brevan::test::TestCertificate;

// The recording dialogs, checking what the server has seen at the moment the
// question is on screen.
struct AskingDialogs : RecordingDialogs {
  std::function<void()> onAsk;
  bool ConfirmYesNo(QWidget* parent, const std::string& text) override {
    if (onAsk) onAsk();
    return RecordingDialogs::ConfirmYesNo(parent, text);
  }
};

Pop3Mailbox OneMessage() {
  Pop3Mailbox box;
  box.user = "alice";
  box.password = "secret";
  box.messages = {"Subject: hello\r\n\r\nbody\r\n"};
  return box;
}

class ServerTrustWindow : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    if (::geteuid() != 0) GTEST_SKIP() << "port 995 needs root";
    SetDialogs(&asking_);
  }
  void TearDown() override {
    window_.reset();
    SetTlsTrustStoreFile("");
    WindowTest::TearDown();
  }

  // One connection to a TLS server on 995 showing the certificate; answer is
  // the reply to a question, if one comes. Returns the commands the server saw.
  std::vector<std::string> Connect(TestCertificate certificate, bool answer) {
    ScriptedPop3Server server(995, certificate);
    server.ServeMailbox(OneMessage());
    asking_.answers = {answer};
    asking_.onAsk = [&] { commandsAtQuestion_ = server.Commands(); };
    if (!window_) window_ = std::make_unique<TForm1>();
    TForm1& w = *window_;
    w.ComboBox1->setEditText("127.0.0.1");
    w.Edit4->setText("alice");
    w.Edit2->setText("secret");
    w.Edit3->setText("995");
    w.btnConnect->click();
    connected_ = w.btnDisconnect->isEnabled();
    if (connected_) w.btnDisconnect->click();
    EXPECT_TRUE(server.WaitForConnectionsEnded(1));
    EXPECT_FALSE(w.btnDisconnect->isEnabled());
    EXPECT_TRUE(w.btnConnect->isEnabled());
    EXPECT_FALSE(w.Timer1->isActive());
    return server.Commands();
  }

  std::string Certs() {
    std::string bytes;
    return ReadWholeFile(File(kCertFileName), bytes) ? bytes : std::string("<none>");
  }
  static std::string Line(TestCertificate which) {
    return "127.0.0.1;995;" + brevan::test::TestCertificateSha256(which) + "\r\n";
  }

  AskingDialogs asking_;
  std::unique_ptr<TForm1> window_;
  std::vector<std::string> commandsAtQuestion_ = {"<not asked>"};
  bool connected_ = false;
};

const std::vector<std::string> kLogin = {"user alice", "pass secret", "capa", "list", "top 1 0", "quit"};

TEST_F(ServerTrustWindow, CertificateFromATrustedAuthorityGoesThroughSilently) {
  const std::string authority = File("authority.pem");
  ASSERT_TRUE(WriteFileAtomic(authority, brevan::test::TestAuthorityPem()));
  SetTlsTrustStoreFile(authority);
  EXPECT_EQ(Connect(TestCertificate::AuthorityIssued, false), kLogin);
  EXPECT_TRUE(connected_);
  EXPECT_TRUE(asking_.questions.empty());
  EXPECT_TRUE(asking_.messages.empty());
  EXPECT_EQ(Certs(), "<none>") << "a verified server needs no memory";
}

TEST_F(ServerTrustWindow, SelfSignedIsRememberedOnFirstUse) {
  EXPECT_EQ(Connect(TestCertificate::SelfSigned, false), kLogin);
  EXPECT_TRUE(asking_.questions.empty());
  EXPECT_EQ(Certs(), Line(TestCertificate::SelfSigned));
  EXPECT_EQ(Connect(TestCertificate::SelfSigned, false), kLogin);
  EXPECT_TRUE(asking_.questions.empty());
}

TEST_F(ServerTrustWindow, ChangedCertificateRefusedSendsNothingAndShowsNothingElse) {
  ASSERT_EQ(Connect(TestCertificate::SelfSigned, false), kLogin);
  const std::string caption = FromQt(window_->windowTitle());
  EXPECT_EQ(Connect(TestCertificate::OtherSelfSigned, false), std::vector<std::string>{});
  EXPECT_FALSE(connected_);
  ASSERT_EQ(asking_.questions.size(), 1u);
  EXPECT_EQ(commandsAtQuestion_, std::vector<std::string>{}) << "nothing goes out before the answer";
  const std::string& question = asking_.questions[0];
  EXPECT_NE(question.find(brevan::test::TestCertificateSha256(TestCertificate::SelfSigned)), std::string::npos);
  EXPECT_NE(question.find(brevan::test::TestCertificateSha256(TestCertificate::OtherSelfSigned)),
            std::string::npos);
  EXPECT_NE(question.find("127.0.0.1:995"), std::string::npos);
  EXPECT_TRUE(asking_.messages.empty());
  EXPECT_TRUE(asking_.errors.empty());
  EXPECT_EQ(FromQt(window_->windowTitle()), caption);
  EXPECT_EQ(Certs(), Line(TestCertificate::SelfSigned));
}

TEST_F(ServerTrustWindow, ChangedCertificateAcceptedIsRememberedAndLogsIn) {
  ASSERT_EQ(Connect(TestCertificate::SelfSigned, false), kLogin);
  EXPECT_EQ(Connect(TestCertificate::OtherSelfSigned, true), kLogin);
  ASSERT_EQ(asking_.questions.size(), 1u);
  EXPECT_EQ(commandsAtQuestion_, std::vector<std::string>{});
  EXPECT_EQ(Certs(), Line(TestCertificate::OtherSelfSigned));
  // Known now: the next connection asks nothing.
  EXPECT_EQ(Connect(TestCertificate::OtherSelfSigned, false), kLogin);
  EXPECT_EQ(asking_.questions.size(), 1u);
}

}  // namespace
}  // namespace brevan::testing
