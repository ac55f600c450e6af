// Preview and download against a loopback mailbox: the reply shown and the
// file written exactly as the server sent them, refusals, lost connections,
// and one exchange at a time on the connection.
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QPointer>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>

#include "messages_fixture.h"
#include "messages_mailbox.h"
#include "common/codepage.h"
#include "session/message_file.h"
#include "session/outstanding_exchange.h"
#include "tests/support/line_client.h"
#include "tests/support/named_rows.h"

namespace brevan {
namespace {

using testing_support::MailboxServer;
using testing_support::WindowTest;
using Fault = MailboxServer::Fault;

class DownloadTest : public WindowTest {
 protected:
  void Connect(MailboxServer& server) {
    ASSERT_TRUE(server.Ok());
    server.Start();
    LogIn(server.Port());
    ASSERT_TRUE(form->IsConnected());
  }
  std::string Folder() const { return AppPath() + "ann(127.0.0.1)"; }
  std::string File(const std::string& name) const {
    std::string contents;
    return ReadWholeFile(MessageFilePath(Folder(), name), contents) ? contents : std::string("<missing>");
  }
  std::string Done() const { return Cp("下載完成, 可以看信了 ^_^"); }
  // Every name in the download folder, hidden ones included; none when the
  // folder is not there.
  std::vector<std::string> FolderNames() const {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(Folder(), error))
      names.push_back(entry.path().filename().string());
    return names;
  }
};

// A message of more than 80000 bytes with lines that start with a dot.
std::string BigMessage() {
  std::string m = "From: a@example.com\r\nSubject: Re: a/b?\r\n\r\n.starts with a dot\r\n";
  for (int i = 0; m.size() < 250000; ++i) m += "line " + std::to_string(i) + " of the body text\r\n";
  m += "..two dots\r\n.\r\nlast\r\n";
  return m;
}

TEST_F(DownloadTest, PreviewShowsTheReplyAsSent) {
  std::string message = "Subject: q\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n.dot\r\ncaf=C3=A9\r\n";
  for (int i = 0; i < 150; ++i) message += "body " + std::to_string(i) + "\r\n";
  MailboxServer server({message});
  Connect(server);
  Select(0);
  form->btnFirst100Click();
  const QStringList lines = form->Memo1->toPlainText().split(QLatin1Char('\n'));
  ASSERT_EQ(lines.size(), 2 + 1 + 2 + 98);  // headers, the empty line, 100 body lines
  EXPECT_EQ(lines[3], QStringLiteral("..dot"));
  EXPECT_EQ(lines[4], QStringLiteral("caf=C3=A9"));
  EXPECT_EQ(lines.last(), QStringLiteral("body 97"));
  EXPECT_EQ(server.Commands().back(), "top 1 100");
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(DownloadTest, PreviewRefusedShowsTheServersLine) {
  MailboxServer server({"Subject: q\r\n\r\nx\r\n"});
  server.FailAt("top 1 100", Fault::Err);
  Connect(server);
  form->Memo1->setPlainText(QStringLiteral("old"));
  Select(0);
  form->btnFirst100Click();
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0], "-ERR refused: top 1 100");
  EXPECT_TRUE(form->Memo1->toPlainText().isEmpty());
}

TEST_F(DownloadTest, LargeMessageFileEqualsWhatWasSent) {
  const std::string message = BigMessage();
  MailboxServer server({message});
  Connect(server);
  ASSERT_EQ(form->RowText(0, ColSubject), "Re: a/b?");
  Select(0);
  form->btnDownloadClick();
  EXPECT_EQ(File("Re_ a_b_"), MailboxServer::DotStuffed(message));
  EXPECT_EQ(FolderNames(), std::vector<std::string>{"Re_ a_b_.eml"});
  EXPECT_EQ(form->RowText(0, ColDownloadedFile), "Re_ a_b_");
  EXPECT_TRUE(form->btnRead->isEnabled());
  EXPECT_EQ(form->ProgressBar1->value(), form->ProgressBar1->maximum());
  EXPECT_EQ(form->ProgressBar1->maximum(), static_cast<int>(message.size()));
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0], Done());
  EXPECT_EQ(server.Commands().back(), "retr 1");

  // Reading it afterwards opens the file without asking.
  form->btnReadClick();
  ASSERT_EQ(desktop.documents.size(), 1u);
  EXPECT_EQ(desktop.documents[0].path, Folder() + "/Re_ a_b_.eml");
}

TEST_F(DownloadTest, SameSubjectTwiceNamesOneFile) {
  MailboxServer server({"Subject: same\r\n\r\nfirst\r\n", "Subject: same\r\n\r\nsecond\r\n"});
  Connect(server);
  Select(0);
  form->btnDownloadClick();
  Select(1);
  form->btnDownloadClick();
  EXPECT_EQ(File("same"), "Subject: same\r\n\r\nsecond\r\n");
  EXPECT_EQ(form->RowText(0, ColDownloadedFile), "same");
  EXPECT_EQ(form->RowText(1, ColDownloadedFile), "same");
}

TEST_F(DownloadTest, NameThatCannotBeCreatedFallsBackToTheNumber) {
  MailboxServer server({"Subject: taken\r\n\r\nx\r\n"});
  Connect(server);
  ASSERT_TRUE(ForceDirectories(Folder() + "/taken.eml"));  // a folder holds the name
  Select(0);
  form->btnDownloadClick();
  EXPECT_EQ(File("1"), "Subject: taken\r\n\r\nx\r\n");
  EXPECT_EQ(form->RowText(0, ColDownloadedFile), "1");
  EXPECT_EQ(dialogs.messages.back(), Done());
}

TEST_F(DownloadTest, NoSubjectAndAnEmptyMessage) {
  MailboxServer server({""});
  server.SetListLines({"1 0"});
  Connect(server);
  Select(0);
  form->btnDownloadClick();
  EXPECT_EQ(File("(no_subject)"), "\r\n");
  EXPECT_EQ(dialogs.messages.back(), Done());
}

TEST_F(DownloadTest, RefusedRetrWritesNothing) {
  MailboxServer server({"Subject: x\r\n\r\nbody\r\n"});
  server.FailAt("retr 1", Fault::Err);
  Connect(server);
  Select(0);
  form->btnDownloadClick();
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0], "-ERR refused: retr 1");
  EXPECT_EQ(File("x"), "<missing>");
  EXPECT_EQ(form->RowText(0, ColDownloadedFile), "");
  EXPECT_FALSE(DirectoryExists(Folder())) << "no folder is made for a message that does not come";
}

TEST_F(DownloadTest, ConnectionLostDuringTheReplyShowsNothing) {
  MailboxServer server({BigMessage()});
  server.FailAt("retr 1", Fault::DropMidReply);
  Connect(server);
  Select(0);
  form->btnDownloadClick();
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_TRUE(dialogs.errors.empty());
  EXPECT_EQ(File("Re_ a_b_"), "<missing>");
  EXPECT_TRUE(FolderNames().empty()) << "the part that came is not left in a temporary file";
  EXPECT_FALSE(DirectoryExists(Folder())) << "the folder made for the download goes with it";
  EXPECT_EQ(form->RowText(0, ColDownloadedFile), "");
  EXPECT_FALSE(form->IsConnected());
}

TEST_F(DownloadTest, ConnectionLostInsteadOfTheStatusLineLeavesNothing) {
  MailboxServer server({"Subject: x\r\n\r\nbody\r\n"});
  server.FailAt("retr 1", Fault::Drop);
  Connect(server);
  Select(0);
  RunHandler(form.get(), [this] { form->btnDownloadClick(); });
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_TRUE(FolderNames().empty());
  EXPECT_EQ(form->RowText(0, ColDownloadedFile), "");
  EXPECT_FALSE(form->IsConnected());
  EXPECT_EQ(form->Outstanding(), nullptr);
}

// The download folder cannot be made (a file holds its name): the message is
// read to its end all the same, so the connection goes on working, and the
// row and btnRead stay as they were.
TEST_F(DownloadTest, FolderThatCannotBeMadeReportsAndChangesNothing) {
  MailboxServer server({"Subject: x\r\n\r\nbody\r\n"});
  Connect(server);
  ASSERT_TRUE(WriteFileAtomic(Folder(), "in the way"));
  form->btnRead->setEnabled(false);
  Select(0);
  RunHandler(form.get(), [this] { form->btnDownloadClick(); });
  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_EQ(dialogs.errors[0], "Cannot create file " + Folder() + "/1.eml.");
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_EQ(form->RowText(0, ColDownloadedFile), "");
  EXPECT_FALSE(form->btnRead->isEnabled());
  EXPECT_EQ(form->ProgressBar1->value(), form->ProgressBar1->maximum());
  form->btnFirst100Click();
  EXPECT_EQ(form->Memo1->toPlainText(), QStringLiteral("Subject: x\n\nbody"))
      << "the next command gets its own reply";
}

// A disconnect in the middle of the download finishes it first: the rest of
// the reply is read and dropped, and the handler then returns without a word
// and without a file.
TEST_F(DownloadTest, DisconnectDuringTheReplyFinishesTheDownloadFirst) {
  MailboxServer server({BigMessage()});
  server.FailAt("retr 1", Fault::SlowReply);
  Connect(server);
  Select(0);
  bool finished = false;
  bool ran = false;
  test::LineClient quitLines(form->IdTCPClient1);
  QTimer::singleShot(100, form.get(), [&] {
    ran = true;
    OutstandingExchange* owed = form->Outstanding();
    ASSERT_NE(owed, nullptr);
    finished = owed->Finish(std::chrono::steady_clock::now() + std::chrono::seconds(10));
    // What the disconnect does next: its own commands, then the close.
    quitLines.SendCommand("quit");
    form->IdTCPClient1.Close();
  });
  RunHandler(form.get(), [this] { form->btnDownloadClick(); });
  EXPECT_TRUE(ran);
  EXPECT_TRUE(finished);
  EXPECT_EQ(quitLines.LastReply(), "+OK") << "quit got its own reply, not a line of the message";
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_TRUE(dialogs.errors.empty());
  EXPECT_TRUE(FolderNames().empty());
  EXPECT_EQ(form->RowText(0, ColDownloadedFile), "");
  EXPECT_EQ(form->Outstanding(), nullptr);
}

TEST_F(DownloadTest, SizeThatIsNoNumberFailsBeforeRetr) {
  MailboxServer server({"Subject: x\r\n\r\nbody\r\n"});
  server.SetListLines({"1"});
  Connect(server);
  Select(0);
  form->Memo1->setPlainText(QStringLiteral("old"));
  RunHandler(form.get(), [this] { form->btnDownloadClick(); });
  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_EQ(dialogs.errors[0], "'' is not a valid integer value.");
  EXPECT_TRUE(form->Memo1->toPlainText().isEmpty());
  EXPECT_EQ(server.Commands().back(), "top 1 0");
}

TEST_F(DownloadTest, NotConnected) {
  AddRow("x");
  Select(0);
  form->btnFirst100Click();
  form->btnDownloadClick();
  EXPECT_EQ(dialogs.messages, (std::vector<std::string>{NotConnectedMessage(), NotConnectedMessage()}));
}

TEST_F(DownloadTest, NoSecondExchangeWhileTheReplyIsAwaited) {
  MailboxServer server({"Subject: slow\r\n\r\nbody\r\n"});
  server.FailAt("retr 1", Fault::SlowReply);
  Connect(server);
  Select(0);
  bool buttonsOff = false;
  bool ran = false;
  QTimer::singleShot(100, form.get(), [&] {
    ran = true;
    buttonsOff = !form->btnFirst100->isEnabled() && !form->btnRetrieveHeader->isEnabled();
    EXPECT_TRUE(form->ExchangeBusy());
    form->btnFirst100Click();        // refused: the download is reading
    form->btnRetrieveHeaderClick();  // refused as well
  });
  form->btnDownloadClick();
  EXPECT_TRUE(ran);
  EXPECT_TRUE(buttonsOff);
  EXPECT_FALSE(form->ExchangeBusy());
  EXPECT_EQ(File("slow"), "Subject: slow\r\n\r\nbody\r\n");
  const std::vector<std::string> sent = server.Commands();
  EXPECT_EQ(sent.back(), "retr 1");
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "top 1 100"), 0);
  EXPECT_TRUE(form->btnFirst100->isEnabled());
  EXPECT_TRUE(form->btnRead->isEnabled());
}

// The window closes while a command waits for the server: the command stops
// without touching the window again, and nothing is written or shown.
TEST_F(DownloadTest, ClosingTheWindowDuringTheReplyStopsCleanly) {
  MailboxServer server({"Subject: slow\r\n\r\nbody\r\n"});
  server.FailAt("retr 1", Fault::SlowReply);
  Connect(server);
  Select(0);
  TForm1* window = form.release();  // the window now destroys itself on close
  QPointer<TForm1> alive(window);
  QTimer::singleShot(100, window, [window] { window->close(); });
  window->btnDownload->click();  // through the wired handler, as the user would
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::processEvents();
  EXPECT_TRUE(alive.isNull());
  EXPECT_EQ(File("slow"), "<missing>");
  EXPECT_TRUE(FolderNames().empty());
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(DownloadTest, ClosingTheWindowDuringTheListingStopsCleanly) {
  std::vector<std::string> messages(3, "Subject: s\r\n\r\n");
  MailboxServer server(messages);
  server.FailAt("top 2 0", Fault::SlowReply);
  Connect(server);
  TForm1* window = form.release();
  QPointer<TForm1> alive(window);
  QTimer::singleShot(100, window, [window] { window->close(); });
  window->btnRetrieveHeader->click();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::processEvents();
  EXPECT_TRUE(alive.isNull());
  EXPECT_TRUE(dialogs.errors.empty());
  const std::vector<std::string> sent = server.Commands();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "top 3 0"), 1) << "only the listing after the login got there";
}

TEST_F(DownloadTest, UntrustedSessionLabelStaysInTheProgramFolder) {
  MailboxServer server({"Subject: x\r\n\r\nbody\r\n"});
  server.Start();
  form->ComboBox1->setEditText(QStringLiteral("127.0.0.1"));
  form->Edit3->setText(QString::number(server.Port()));
  form->Edit4->setText(QStringLiteral("../../escape"));
  form->Edit2->setText(QStringLiteral("pw"));
  form->btnConnectClick();
  Select(0);
  form->btnDownloadClick();
  std::string contents;
  EXPECT_TRUE(ReadWholeFile(AppPath() + "_._.._escape(127.0.0.1)/x.eml", contents));
}

// Names up to the file system's limit of 255 bytes, ".eml" included, are
// used as they are; the temporary name used while writing never gets in the
// way. A Big5 character takes three bytes on the disk.
struct LongNameRow {
  const char* name;
  std::string subject;
  std::string file;  // the name the file gets, without ".eml"
};
void PrintTo(const LongNameRow& r, std::ostream* os) { *os << r.name; }

std::string Big5Chars(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += "\xA4\xA4";
  return text;
}

class LongNameTest : public DownloadTest, public ::testing::WithParamInterface<LongNameRow> {};

TEST_P(LongNameTest, SavedUnderItsOwnNameUpToTheLimit) {
  MailboxServer server({"Subject: " + GetParam().subject + "\r\n\r\nbody\r\n"});
  Connect(server);
  ASSERT_EQ(form->RowText(0, ColSubject), GetParam().subject);
  Select(0);
  form->btnDownloadClick();
  EXPECT_EQ(form->RowText(0, ColDownloadedFile), GetParam().file);
  EXPECT_EQ(File(GetParam().file), "Subject: " + GetParam().subject + "\r\n\r\nbody\r\n");
  EXPECT_EQ(FolderNames().size(), 1u);
  EXPECT_EQ(dialogs.messages.back(), Done());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LongNameTest,
    ::testing::Values(LongNameRow{"bytes_240", std::string(240, 'n'), std::string(240, 'n')},
                      LongNameRow{"bytes_242", std::string(242, 'n'), std::string(242, 'n')},
                      LongNameRow{"bytes_246", std::string(246, 'n'), std::string(246, 'n')},
                      LongNameRow{"bytes_250", std::string(250, 'n'), std::string(250, 'n')},
                      LongNameRow{"bytes_251_the_limit", std::string(251, 'n'), std::string(251, 'n')},
                      LongNameRow{"bytes_252_falls_back_to_the_number", std::string(252, 'n'), "1"},
                      LongNameRow{"big5_249_bytes_on_disk", Big5Chars(83), Big5Chars(83)},
                      LongNameRow{"big5_252_bytes_on_disk_falls_back", Big5Chars(84), "1"}),
    RowName<LongNameRow>);

}  // namespace
}  // namespace brevan
