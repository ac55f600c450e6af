// The listing, the marks and the deletion at disconnect against a real
// Dovecot server: 200 messages whose subjects use every encoded-word prefix.
#include <QComboBox>
#include <QLineEdit>

#include <gtest/gtest.h>

#include "decode/codecs.h"
#include "messages_fixture.h"
#include "net/tcp_client.h"
#include "session/pipelined_listing.h"
#include "capa_question.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/line_client.h"

namespace brevan {
namespace {

using testing_support::AskPipelining;
using testing_support::WindowTest;

// RFC 2047 section 4.2: in a Q word "_" stands for a blank.
std::string QWord(const std::string& text) {
  std::string out;
  for (char c : text) out += c == ' ' ? std::string("_") : std::string(1, c);
  return out;
}

// The subject of message i in one of the ten prefix forms, and what the
// listing must show for it.
std::string EncodedSubject(int i, const std::string& text) {
  static const char* const kCharsets[] = {"big5", "gb2312", "utf-8", "iso-8859-1", "iso-8859-2"};
  const int form = i % 10;
  const std::string charset = kCharsets[form / 2];
  const bool base64 = form % 2 == 0;
  // Capitals in some prefixes: the prefix is matched ignoring ASCII case.
  std::string prefix = "=?" + charset + (base64 ? "?b?" : "?q?");
  if (i % 3 == 0) {
    for (char& c : prefix) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return prefix + (base64 ? EncodeBase64Text(text) : QWord(text)) + "?=";
}

class DovecotListingTest : public WindowTest {
 protected:
  void Connect(const test::DovecotServer& server) {
    form->ComboBox1->setEditText(QStringLiteral("127.0.0.1"));
    form->Edit3->setText(QString::number(server.PlainPort()));
    form->Edit4->setText(QStringLiteral("bob"));
    form->Edit2->setText(QStringLiteral("secret"));
    form->btnConnectClick();
    ASSERT_TRUE(form->IsConnected());
  }
};

TEST_F(DovecotListingTest, MarkedMessagesAndOnlyThoseAreDeleted) {
  if (const std::string why = test::DovecotServer::Unavailable(false); !why.empty()) GTEST_SKIP() << why;
  constexpr int kCount = 200;
  test::DovecotOptions options;
  std::vector<std::string> subjects;
  for (int i = 1; i <= kCount; ++i) {
    const std::string text = "message " + std::to_string(i) + (i % 7 == 0 ? " lottery" : " hello");
    subjects.push_back(text);
    options.messages.push_back("From: sender" + std::to_string(i) + "@example.com\nSubject: " +
                               EncodedSubject(i, text) + "\nDate: Tue, 8 Dec 2026 04:00:00 +0000\n\nbody " +
                               std::to_string(i) + "\n");
  }
  test::DovecotServer server(options);
  ASSERT_TRUE(WriteFileAtomic(AppPath() + "subjectfilter.cfg", "LOTTERY\r\n"));
  Connect(server);

  ASSERT_EQ(form->ListView1->topLevelItemCount(), kCount);
  std::vector<bool> expectMarked;
  for (int row = 0; row < kCount; ++row) {
    EXPECT_EQ(form->RowText(row, ColNumber), std::to_string(row + 1));
    EXPECT_EQ(form->RowText(row, ColSubject), subjects[row]) << "row " << row + 1;
    EXPECT_EQ(form->RowText(row, ColSender), "sender" + std::to_string(row + 1) + "@example.com");
    EXPECT_EQ(form->RowText(row, ColSize), std::to_string(options.messages[row].size() + 5))
        << "sizes count CR LF line ends";
    expectMarked.push_back((row + 1) % 7 == 0);
  }
  EXPECT_EQ(Ticks(), expectMarked);

  // Two more by hand; one junk row unticked by hand.
  Select(0);
  form->btnMarkDeleteClick();
  Select(kCount - 1);
  form->btnMarkDeleteClick();
  form->SetRowTicked(6, false);
  expectMarked[0] = expectMarked[kCount - 1] = true;
  expectMarked[6] = false;
  ASSERT_EQ(Ticks(), expectMarked);

  dialogs.answers = {true};
  form->btnDisconnectClick();
  ASSERT_FALSE(form->IsConnected());
  EXPECT_EQ(Ticks(), expectMarked) << "the rows and marks stay after the disconnect";

  // What is left on the server is exactly what was not marked.
  Connect(server);
  std::vector<std::string> left;
  for (int row = 0; row < form->ListView1->topLevelItemCount(); ++row) left.push_back(form->RowText(row, ColSubject));
  std::vector<std::string> expected;
  for (int i = 0; i < kCount; ++i) {
    if (!expectMarked[i]) expected.push_back(subjects[i]);
  }
  EXPECT_EQ(left, expected);
  dialogs.answers = {false};  // keep the rest
  form->btnDisconnectClick();
}

// One listed row as the window shows it, or as the listing reports it.
struct ListedRow {
  std::string number, sender, subject, size, date;
  bool ticked;
  bool operator==(const ListedRow&) const = default;
};
void PrintTo(const ListedRow& r, std::ostream* os) { *os << r.number << " " << r.subject; }

TEST_F(DovecotListingTest, PipelinedRowsAndTicksAreTheSequentialOnes) {
  if (const std::string why = test::DovecotServer::Unavailable(false); !why.empty()) GTEST_SKIP() << why;
  constexpr int kCount = 5000;
  test::DovecotOptions options;
  for (int i = 1; i <= kCount; ++i) {
    const std::string text = "message " + std::to_string(i) + (i % 7 == 0 ? " lottery" : " hello");
    options.messages.push_back("From: =?utf-8?b?" + EncodeBase64Text("s\xc3\xa9nder " + std::to_string(i)) +
                               "?= <s" + std::to_string(i) + "@example.com>\nSubject: " + EncodedSubject(i, text) +
                               "\nDate: Tue, 8 Dec 2026 04:00:00 +0000\n\nbody\n");
  }
  test::DovecotServer server(options);
  std::string rules;
  for (int r = 0; r < 49; ++r) rules += "*never" + std::to_string(r) + "*\r\n";
  rules += "LOTTERY\r\n";
  ASSERT_TRUE(WriteFileAtomic(AppPath() + "subjectfilter.cfg", rules));

  // The window lists pipelined: Dovecot declares PIPELINING.
  Connect(server);
  std::vector<ListedRow> shown;
  for (int r = 0; r < form->ListView1->topLevelItemCount(); ++r)
    shown.push_back({form->RowText(r, ColNumber), form->RowUnicodeText(r, ColSender), form->RowUnicodeText(r, ColSubject),
                     form->RowText(r, ColSize), form->RowText(r, ColDate), form->RowTicked(r)});
  form->btnCancelAllClick();
  form->btnDisconnectClick();
  ASSERT_EQ(shown.size(), static_cast<size_t>(kCount));

  // The same mailbox one command at a time, without a window.
  TIdTCPClient c;
  c.Host = "127.0.0.1";
  c.Port = server.PlainPort();
  c.Open();
  test::LineClient lineClient(c);
  lineClient.ReadLine();
  ASSERT_EQ(lineClient.SendCommand("user bob"), 1);
  ASSERT_EQ(lineClient.SendCommand("pass secret"), 1);
  EXPECT_TRUE(AskPipelining(c)) << "Dovecot lists PIPELINING in its CAPA reply";
  std::vector<std::string> listLines;
  std::vector<ListedRow> sequential;
  ListingSteps steps;
  steps.Listed = [&](const std::vector<std::string>& lines) { listLines = lines; };
  steps.MessageStarted = [&](int k) {
    sequential.push_back({std::to_string(k), "", "", ListLineSize(listLines[static_cast<size_t>(k - 1)]), "", false});
  };
  steps.HeadersTaken = [&](int, const ListedHeaders& h) {
    sequential.back().sender = h.Sender;
    sequential.back().subject = h.Subject;
    sequential.back().date = h.Date;
    sequential.back().ticked = h.Junk;
  };
  PipelinedListing listing(c, false, Program().FilterRuleList, steps);
  ASSERT_EQ(listing.Run(), PipelinedListing::End::Complete);
  c.WriteLine("quit");

  EXPECT_EQ(shown, sequential);
  size_t ticked = 0;
  for (const ListedRow& r : shown) ticked += r.ticked;
  EXPECT_EQ(ticked, static_cast<size_t>(kCount / 7));
}

}  // namespace
}  // namespace brevan
