// STLS through the session window on a port other than "995": the whole
// client dialogue, what the user is shown or asked, and above all that no
// "user" or "pass" goes out to a server that offered TLS or had it before
// unless TLS is up or the user said Yes.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <functional>
#include <memory>
#include <ostream>

#include "accounts/cert_store.h"
#include "app/qt_text.h"
#include "common/file_io.h"
#include "session/TForm1.h"
#include "session_lifecycle_support.h"
#include "tests/support/scripted_pop3_server.h"
#include "tests/support/test_tls.h"

namespace brevan::testing {
namespace {

using brevan::test::Pop3Mailbox;
using brevan::test::ScriptedPop3Server;
using brevan::test::TestCertificate;

// The recording dialogs, also recording the questions whose default is No.
struct StlsDialogs : RecordingDialogs {
  std::vector<std::string> defaultNo;
  std::function<void()> onAsk;
  bool ConfirmYesNoDefaultNo(QWidget* parent, const std::string& text) override {
    defaultNo.push_back(text);
    if (onAsk) onAsk();
    return RecordingDialogs::ConfirmYesNo(parent, text);
  }
  bool ConfirmYesNo(QWidget* parent, const std::string& text) override {
    if (onAsk) onAsk();
    return RecordingDialogs::ConfirmYesNo(parent, text);
  }
};

enum class Before { Nothing, Mark, SelfSigned };

struct StlsWindowRow {
  const char* name;
  std::function<void(ScriptedPop3Server&)> serve;  // mailbox or script
  Before certsBefore;
  std::vector<bool> answers;
  std::vector<std::string> sent;  // every command, "quit" of a disconnect included
  bool connected;
  bool failureShown;    // the one message about a failed STLS
  bool downgradeAsked;  // the Yes/No question of a server that dropped TLS
  bool certificateAsked;
  std::vector<std::string> sentAtQuestion;
};
void PrintTo(const StlsWindowRow& row, std::ostream* os) { *os << row.name; }

Pop3Mailbox Box() {
  Pop3Mailbox box;
  box.user = "alice";
  box.password = "secret";
  box.messages = {"Subject: hello\r\n\r\nbody\r\n"};
  return box;
}

std::function<void(ScriptedPop3Server&)> Mailbox(bool stls, bool capa = true,
                                                 TestCertificate shown = TestCertificate::SelfSigned) {
  return [=](ScriptedPop3Server& s) {
    Pop3Mailbox box = Box();
    box.offersStls = stls;
    box.refusesPlainLogin = stls;
    box.answersCapa = capa;
    box.stlsCertificate = shown;
    s.ServeMailbox(box);
  };
}

const char kCapaWithStls[] = "+OK\r\nUSER\r\nSTLS\r\n.\r\n";
const std::vector<std::string> kLoginAfterCapa = {"user alice", "pass secret", "capa", "list", "top 1 0", "quit"};
std::vector<std::string> Then(std::vector<std::string> first, const std::vector<std::string>& rest) {
  first.insert(first.end(), rest.begin(), rest.end());
  return first;
}

// The client's command lines; a plain server sent the start of a handshake
// sees its bytes as lines too, and those are left out.
std::vector<std::string> CommandLines(const ScriptedPop3Server& server) {
  std::vector<std::string> lines;
  for (const std::string& line : server.Commands()) {
    if (std::all_of(line.begin(), line.end(), [](char c) { return c >= 0x20 && c < 0x7F; })) lines.push_back(line);
  }
  return lines;
}

class StlsWindow : public WindowTest, public ::testing::WithParamInterface<StlsWindowRow> {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    SetDialogs(&dialogs_);
  }
  StlsDialogs dialogs_;
};

TEST_P(StlsWindow, DialogueQuestionsAndMessages) {
  const StlsWindowRow& row = GetParam();
  ScriptedPop3Server server;
  row.serve(server);
  if (row.certsBefore != Before::Nothing) {
    std::vector<std::string> lines;
    if (row.certsBefore == Before::Mark) RememberSeenWithTls(lines, "127.0.0.1", server.Port());
    else RememberFingerprint(lines, "127.0.0.1", server.Port(), test::TestCertificateSha256(TestCertificate::SelfSigned));
    ASSERT_TRUE(SaveCertFile(File(kCertFileName), lines));
  }
  dialogs_.answers.assign(row.answers.begin(), row.answers.end());
  std::vector<std::string> atQuestion = {"<not asked>"};
  dialogs_.onAsk = [&] { atQuestion = server.Commands(); };

  auto w = std::make_unique<TForm1>();
  w->ComboBox1->setEditText("127.0.0.1");
  w->Edit4->setText("alice");
  w->Edit2->setText("secret");
  w->Edit3->setText(QString::number(server.Port()));
  w->btnConnect->click();
  EXPECT_EQ(w->IsConnected(), row.connected);
  if (w->IsConnected()) w->btnDisconnect->click();
  ASSERT_TRUE(server.WaitForConnectionsEnded(1));
  EXPECT_EQ(CommandLines(server), row.sent);
  EXPECT_FALSE(w->IsConnected());

  const std::vector<std::string> failure = {Cp(
      "伺服器表示支援加密連線 (STLS), 但加密連線沒有建立成功. 為了保護您的密碼, 帳號密碼沒有送出, 連線已經中斷.")};
  EXPECT_EQ(dialogs_.messages, row.failureShown ? failure : std::vector<std::string>{});
  EXPECT_EQ(dialogs_.defaultNo.size(), row.downgradeAsked ? 1u : 0u);
  EXPECT_EQ(dialogs_.questions.size(), (row.downgradeAsked ? 1u : 0u) + (row.certificateAsked ? 1u : 0u));
  if (row.downgradeAsked) {
    EXPECT_NE(dialogs_.defaultNo[0].find("127.0.0.1:" + std::to_string(server.Port())), std::string::npos);
  }
  if (row.downgradeAsked || row.certificateAsked) EXPECT_EQ(atQuestion, row.sentAtQuestion);
  EXPECT_TRUE(dialogs_.errors.empty());
  if (row.connected && row.sent.size() > 1 && row.sent[1] == "stls") {
    EXPECT_TRUE(ServerSeenWithTls(File(kCertFileName), "127.0.0.1", server.Port()));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StlsWindow,
    ::testing::Values(
        StlsWindowRow{"stls_offered", Mailbox(true), Before::Nothing, {},
                      Then({"capa", "stls", "capa"}, kLoginAfterCapa), true, false, false, false, {}},
        StlsWindowRow{"stls_refused",
                      [](ScriptedPop3Server& s) {
                        s.SendLine("+OK ready").AwaitCommand().Send(kCapaWithStls);
                        s.AwaitCommand().SendLine("-ERR not now").AwaitClientClose();
                      },
                      Before::Nothing, {}, {"capa", "stls"}, false, true, false, false, {}},
        StlsWindowRow{"handshake_cut",
                      [](ScriptedPop3Server& s) {
                        s.SendLine("+OK ready").AwaitCommand().Send(kCapaWithStls);
                        s.AwaitCommand().SendLine("+OK go ahead").Delay(50).CloseConnection(false);
                      },
                      Before::Nothing, {}, {"capa", "stls"}, false, true, false, false, {}},
        // Default No: nothing but the CAPA has gone out, and nothing more goes.
        StlsWindowRow{"downgrade_after_a_tls_visit_refused", Mailbox(false), Before::Mark, {false}, {"capa"}, false,
                      false, true, false, {"capa"}},
        StlsWindowRow{"downgrade_after_a_tls_visit_accepted", Mailbox(false), Before::SelfSigned, {true},
                      Then({"capa"}, kLoginAfterCapa), true, false, true, false, {"capa"}},
        StlsWindowRow{"no_capa_at_all_after_a_tls_visit", Mailbox(false, false), Before::Mark, {false}, {"capa"},
                      false, false, true, false, {"capa"}},
        StlsWindowRow{"changed_certificate_after_stls_refused", Mailbox(true, true, TestCertificate::OtherSelfSigned),
                      Before::SelfSigned, {false}, {"capa", "stls"}, false, false, false, true, {"capa", "stls"}},
        StlsWindowRow{"no_capa_at_all_logs_in_as_before", Mailbox(false, false), Before::Nothing, {},
                      Then({"capa"}, kLoginAfterCapa), true, false, false, false, {}},
        StlsWindowRow{"no_stls_offered_logs_in_as_before", Mailbox(false), Before::Nothing, {},
                      Then({"capa"}, kLoginAfterCapa), true, false, false, false, {}}),
    [](const ::testing::TestParamInfo<StlsWindowRow>& info) { return std::string(info.param.name); });

// RFC 1939 section 4: a first line that begins with "+OK" is the whole
// greeting, and CAPA follows at once; another first line still waits for
// more greeting lines.
struct GreetingRow {
  const char* name;
  const char* first;
  bool capaBeforeSecondLine;
};
void PrintTo(const GreetingRow& row, std::ostream* os) { *os << row.name; }

class GreetingWindow : public WindowTest, public ::testing::WithParamInterface<GreetingRow> {};

TEST_P(GreetingWindow, CapaFollowsAPositiveGreetingAtOnce) {
  const GreetingRow& row = GetParam();
  ScriptedPop3Server server;
  // A second line 300 ms after the first: only a wait for more greeting
  // lines lets it in before the client's first command.
  // The client's CAPA takes that line for its status when it went out first,
  // the "." for it otherwise; either way "user" is refused next.
  server.SendLine(row.first).Delay(300).SendLine("+OK second line");
  server.AwaitCommand().SendLine(".").AwaitCommand().SendLine("-ERR no").AwaitClientClose();
  auto w = std::make_unique<TForm1>();
  w->ComboBox1->setEditText("127.0.0.1");
  w->Edit4->setText("alice");
  w->Edit3->setText(QString::number(server.Port()));
  w->btnConnect->click();
  if (w->IsConnected()) w->btnDisconnect->click();
  ASSERT_TRUE(server.WaitForConnectionsEnded(1));
  const std::vector<std::string> transcript = server.Transcript();
  const auto capa = std::find(transcript.begin(), transcript.end(), "C: capa");
  const auto second = std::find(transcript.begin(), transcript.end(), "S: +OK second line\r\n");
  ASSERT_NE(capa, transcript.end());
  ASSERT_NE(second, transcript.end());
  EXPECT_EQ(capa < second, row.capaBeforeSecondLine);
}

INSTANTIATE_TEST_SUITE_P(Rows, GreetingWindow,
                         ::testing::Values(GreetingRow{"positive_first_line_is_the_whole_greeting", "+OK ready", true},
                                           GreetingRow{"other_first_line_waits_for_more", "* banner", false}),
                         [](const ::testing::TestParamInfo<GreetingRow>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace brevan::testing
