// The header listing against a loopback mailbox: rows, sizes, the header
// rules, junk marks, and what a failing server leaves behind.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include "messages_fixture.h"
#include "messages_mailbox.h"

namespace brevan {
namespace {

using testing_support::MailboxServer;
using testing_support::WindowTest;
using Fault = MailboxServer::Fault;

class ListingTest : public WindowTest {
 protected:
  void Connect(MailboxServer& server) {
    ASSERT_TRUE(server.Ok());
    server.Start();
    LogIn(server.Port());
  }

  struct Shown {
    std::string number, sender, subject, size, date;
    bool ticked;
    bool operator==(const Shown&) const = default;
  };
  std::vector<Shown> Rows() const {
    std::vector<Shown> rows;
    for (int r = 0; r < form->ListView1->topLevelItemCount(); ++r)
      rows.push_back({form->RowText(r, ColNumber), form->RowText(r, ColSender), form->RowText(r, ColSubject),
                      form->RowText(r, ColSize), form->RowText(r, ColDate), form->RowTicked(r)});
    return rows;
  }

  bool AllEightEnabled() const {
    for (QPushButton* b : {form->btnFirst100, form->btnDownload, form->btnRead, form->btnMarkDelete,
                           form->btnDeleteAll, form->btnCancelAll, form->btnRetrieveHeader, form->BitBtn1})
      if (!b->isEnabled()) return false;
    return true;
  }
};

void PrintTo(const std::vector<std::string>&, std::ostream* os) { *os << "lines"; }

struct ListingRow {
  const char* name;
  std::vector<std::string> messages;
  std::vector<std::string> listLines;  // empty: the server's own
  std::vector<std::string> rules;
  std::vector<std::string> refusedTops;
  std::vector<std::vector<std::string>> rows;  // number, sender, subject, size, date, "x" when ticked
};
void PrintTo(const ListingRow& r, std::ostream* os) { *os << r.name; }

class ListingTable : public ListingTest, public ::testing::WithParamInterface<ListingRow> {};

TEST_P(ListingTable, Rows) {
  const ListingRow& c = GetParam();
  MailboxServer server(c.messages);
  if (!c.listLines.empty()) server.SetListLines(c.listLines);
  for (const std::string& top : c.refusedTops) server.FailAt(top, Fault::Err);
  ASSERT_TRUE(WriteFileAtomic(AppPath() + "subjectfilter.cfg", JoinLinesCrLf(c.rules)));
  Connect(server);

  std::vector<Shown> expected;
  for (const auto& r : c.rows) expected.push_back({r[0], r[1], r[2], r[3], r[4], r[5] == "x"});
  EXPECT_EQ(Rows(), expected);
  const size_t count = c.listLines.empty() ? c.messages.size() : c.listLines.size();
  EXPECT_EQ(FromQt(form->windowTitle()),
            Cp("Brevan v3.3 (連線中)(") + std::to_string(count) + Cp(" 封信) - ") + "127.0.0.1");
  EXPECT_TRUE(AllEightEnabled());
  EXPECT_TRUE(dialogs.errors.empty());

  // The command after "list" is one TOP per row, numbered by row.
  std::vector<std::string> sent = server.Commands();
  std::vector<std::string> wanted = {"capa", "user ann", "pass pw", "capa", "list"};
  for (size_t k = 1; k <= count; ++k) wanted.push_back("top " + std::to_string(k) + " 0");
  EXPECT_EQ(sent, wanted);
  for (int r = 0; r < form->ListView1->topLevelItemCount(); ++r) EXPECT_EQ(Red(r), form->RowTicked(r));
}

const std::string kPlain = "From: Ann <ann@example.com>\r\nSubject: hello\r\nDate: Tue, 8 Dec 2026\r\n\r\nbody\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, ListingTable,
    ::testing::Values(
        ListingRow{"empty_mailbox", {}, {}, {}, {}, {}},
        ListingRow{"plain", {kPlain}, {}, {}, {},
                   {{"1", "Ann <ann@example.com>", "hello", std::to_string(kPlain.size()), "Tue, 8 Dec 2026", ""}}},
        ListingRow{"server_numbers_otherwise",
                   {kPlain, kPlain},
                   {"10 100", "20 200"},
                   {},
                   {},
                   {{"1", "Ann <ann@example.com>", "hello", "100", "Tue, 8 Dec 2026", ""},
                    {"2", "Ann <ann@example.com>", "hello", "200", "Tue, 8 Dec 2026", ""}}},
        ListingRow{"size_missing_and_third_token",
                   {"Subject: a\r\n\r\n", "Subject: b\r\n\r\n"},
                   {"1", "2 2048 extra"},
                   {},
                   {},
                   {{"1", "", "a", "", "", ""}, {"2", "", "b", "2048", "", ""}}},
        ListingRow{"header_rules",
                   {"FROM: CAPS\r\nsubject:xfolded first\r\n second line\r\nDATE:\r\nX-Subject: no\r\n"
                    "Resent-From: no\r\n\r\nbody\r\n",
                    "From:abc\r\nFrom:a\r\n\r\n"},
                   {"1 1", "2 2"},
                   {},
                   {},
                   {{"1", "CAPS", "folded first", "1", "", ""}, {"2", "", "", "2", "", ""}}},
        ListingRow{"two_subjects_either_junk",
                   {"Subject: lottery win\r\nSubject: harmless\r\n\r\n",
                    "Subject: harmless\r\nSubject: lottery\r\n\r\n", "Subject: clean\r\n\r\n"},
                   {"1 5", "2 5", "3 5"},
                   {"lottery"},
                   {},
                   {{"1", "", "harmless", "5", "", "x"}, {"2", "", "lottery", "5", "", "x"},
                    {"3", "", "clean", "5", "", ""}}},
        ListingRow{"refused_top_in_the_middle",
                   {"Subject: one\r\n\r\n", "Subject: lottery\r\n\r\n", "Subject: three\r\n\r\n"},
                   {"1 7", "2 8", "3 9"},
                   {"lottery"},
                   {"top 2 0"},
                   {{"1", "", "one", "7", "", ""}, {"2", "", "", "8", "", ""}, {"3", "", "three", "9", "", ""}}},
        ListingRow{"encoded_words",
                   {"From: =?big5?B?pKSk5Q==?= <x@y>\r\nSubject: =?utf-8?q?caf=C3=A9?=\r\n\r\n"},
                   {"1 3"},
                   {},
                   {},
                   {{"1", "\xA4\xA4\xA4\xE5 <x@y>", "caf?", "3", "", ""}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ListingTest, DropDuringTheListingAfterLoginEndsTheClickQuietly) {
  MailboxServer server({"Subject: one\r\n\r\n", "Subject: two\r\n\r\n", "Subject: three\r\n\r\n"});
  server.FailAt("top 2 0", Fault::Drop);
  Connect(server);
  ASSERT_EQ(Rows().size(), 2u);
  EXPECT_EQ(Rows()[0].subject, "one");
  EXPECT_EQ(Rows()[1].number, "2");
  EXPECT_EQ(Rows()[1].subject, "");
  EXPECT_TRUE(AllEightEnabled());
  // The listing is part of the connect click, which ends silently when the
  // server goes away; the closed connection has restored the window.
  EXPECT_TRUE(dialogs.errors.empty());
  EXPECT_FALSE(form->IsConnected());
}

TEST_F(ListingTest, ConnectionDropInAClickedListingKeepsTheRowsAndSaysWhy) {
  MailboxServer server({"Subject: one\r\n\r\n", "Subject: two\r\n\r\n", "Subject: three\r\n\r\n"});
  Connect(server);
  ASSERT_EQ(Rows().size(), 3u);
  server.FailAt("top 2 0", Fault::Drop);
  form->btnRetrieveHeader->click();
  ASSERT_EQ(Rows().size(), 2u);
  EXPECT_EQ(Rows()[0].subject, "one");
  EXPECT_EQ(Rows()[1].subject, "");
  EXPECT_TRUE(AllEightEnabled());
  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_EQ(dialogs.errors[0], "Connection Closed Gracefully.");
  EXPECT_FALSE(form->IsConnected());
}

TEST_F(ListingTest, DropInsideAHeaderBlock) {
  MailboxServer server({"Subject: one\r\nFrom: a\r\nDate: d\r\n\r\n", "Subject: two\r\n\r\n"});
  server.FailAt("top 1 0", Fault::DropMidReply);
  Connect(server);
  ASSERT_EQ(Rows().size(), 1u);
  EXPECT_EQ(Rows()[0].subject, "") << "a header block cut short is not taken";
  EXPECT_TRUE(AllEightEnabled());
  EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(ListingTest, ListingAgainStartsFromAnEmptyList) {
  MailboxServer server({"Subject: a\r\n\r\n", "Subject: b\r\n\r\n"});
  Connect(server);
  form->SetRowTicked(0, true);
  form->SetRowText(1, ColDownloadedFile, "b");
  form->btnRetrieveHeaderClick();
  ASSERT_EQ(Rows().size(), 2u);
  EXPECT_FALSE(Rows()[0].ticked);
  EXPECT_FALSE(Red(0));
  EXPECT_EQ(form->RowText(1, ColDownloadedFile), "");
  const std::vector<std::string> sent = server.Commands();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "list"), 2);
}

TEST_F(ListingTest, NotConnectedChangesNothing) {
  AddRow("kept");
  form->btnRetrieveHeaderClick();
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0], NotConnectedMessage());
  EXPECT_EQ(Rows().size(), 1u);
}

TEST_F(ListingTest, MarksStayAfterTheDisconnect) {
  MailboxServer server({"Subject: lottery\r\n\r\n", "Subject: fine\r\n\r\n"});
  ASSERT_TRUE(WriteFileAtomic(AppPath() + "subjectfilter.cfg", "lottery\r\n"));
  Connect(server);
  dialogs.answers = {true};
  form->btnDisconnectClick();
  EXPECT_EQ(Ticks(), (std::vector<bool>{true, false}));
  EXPECT_TRUE(Red(0));
  const std::vector<std::string> sent = server.CommandsThrough("quit");
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(sent[sent.size() - 2], "dele 1");
}

}  // namespace
}  // namespace brevan
