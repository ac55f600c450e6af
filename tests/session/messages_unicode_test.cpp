// Senders and subjects in the list as their writers wrote them, whatever the
// character set, and what the rules, the rule menu and the download make of
// text the code page cannot hold.
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <gtest/gtest.h>

#include <filesystem>

#include "common/codepage.h"
#include "messages_fixture.h"
#include "messages_mailbox.h"

namespace brevan {
namespace {

using testing_support::FakeDialogs;
using testing_support::MailboxServer;
using testing_support::WindowTest;

// Records the Unicode message boxes as the user reads them.
struct UnicodeDialogs : FakeDialogs {
  std::vector<std::string> unicodeMessages;
  void ShowUnicodeMessage(QWidget*, const std::string& utf8) override { unicodeMessages.push_back(utf8); }
};

class UnicodeRowsTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    SetDialogs(&unicodeDialogs);
  }
  // The row's column as the list shows it.
  std::string Shown(int row, int column) const {
    return form->ListView1->topLevelItem(row)->text(column).toStdString();
  }
  int AddUnicodeRow(const std::string& subject) {
    const int row = AddRow("");
    form->SetRowUnicodeText(row, ColSubject, subject);
    return row;
  }
  UnicodeDialogs unicodeDialogs;
};

struct ListedRow {
  std::string from, subject;            // the header values as sent
  std::string shownFrom, shownSubject;  // what the row shows
};

TEST_F(UnicodeRowsTest, ListingShowsSendersAndSubjectsAsWritten) {
  const std::vector<ListedRow> rows = {
      {"=?iso-8859-1?Q?J=F8rgen_=C6r=F8?= <j@example.dk>", "=?gb2312?B?NTDUqrvxtcPSu9LazuXHp83yRU1BSUy12Na3tcS7+rvh?=",
       "Jørgen Ærø <j@example.dk>", "50元获得一亿五千万EMAIL地址的机会"},
      {"=?iso-8859-2?Q?=A3=F3d=BC?= <l@example.pl>", "=?utf-8?B?5Y2I6aSQIPCfjbEg5ZCD5LuA6bq8?=", "Łódź <l@example.pl>",
       "午餐 🍱 吃什麼"},
      {"\"=?big5?B?pL2lcQ==?=\" <a@example.tw>", "Re: =?iso-2022-jp?B?GyRCMnE1RCROJCpDTiRpJDsbKEI=?=",
       "\"公司\" <a@example.tw>", "Re: 会議のお知らせ"},
      {"sales@example.cn", "=?gbk?B?w+K30bei?= =?gbk?B?xrE=?=", "sales@example.cn", "免费发票"},
      {"\xA4\xBD\xA5\x71 <b@example.tw>", "=?utf-8?Q?re-send_=22now=22__=E2=9C=93?=", "公司 <b@example.tw>",
       "resend now ✓"},
      {"x@example.com", "J\xC3\xB8rgen's \xF0\x9F\x8E\x82", "x@example.com", "Jørgen's 🎂"},
      {"y@example.com", "=?x-unknown?B?QUJD?= and =?utf-8?B?5Lit5paH", "y@example.com",
       "=?xunknown?B?QUJD?= and =?utf8?B?5Lit5paH"},
  };
  std::vector<std::string> messages;
  for (const ListedRow& row : rows) messages.push_back("From: " + row.from + "\r\nSubject: " + row.subject + "\r\n\r\n");
  MailboxServer server(messages);
  ASSERT_TRUE(WriteFileAtomic(AppPath() + "subjectfilter.cfg", Cp("*發票*\r\n")));
  ASSERT_TRUE(server.Ok());
  server.Start();
  LogIn(server.Port());
  ASSERT_EQ(form->ListView1->topLevelItemCount(), static_cast<int>(rows.size()));
  for (size_t i = 0; i < rows.size(); ++i) {
    const int row = static_cast<int>(i);
    EXPECT_EQ(Shown(row, ColSender), rows[i].shownFrom) << "row " << row;
    EXPECT_EQ(Shown(row, ColSubject), rows[i].shownSubject) << "row " << row;
  }
  // The Simplified subject is caught by the Traditional rule, and the hint
  // quotes the rule as the rule file holds it.
  EXPECT_EQ(Ticks(), (std::vector<bool>{false, false, false, true, false, false, false}));
  EXPECT_EQ(form->ListView1->topLevelItem(3)->toolTip(ColSubject).toStdString(),
            "按滑鼠右鍵可以將標題加入過濾器 (subjectfilter.cfg)\n原因: 規則 *發票* (第 1 行)");
  // In the code page, what Big5 lacks reads as "?".
  EXPECT_EQ(form->RowText(1, ColSubject), Cp("午餐 ? 吃什麼"));
}

TEST_F(UnicodeRowsTest, AddedSubjectIsARuleThatHitsIt) {
  AddUnicodeRow("会议通知");
  AddUnicodeRow("會議通知 明天");
  AddUnicodeRow("午餐");
  Select(0);
  unicodeDialogs.inputAccepted = false;  // Cancel adds the offered rule unchanged
  form->N1Click();
  ASSERT_EQ(unicodeDialogs.inputs.size(), 1u);
  // Big5 lacks the Simplified characters, so the rule is the Traditional
  // form; it hits the row it came from and the Traditional subject alike.
  EXPECT_EQ(unicodeDialogs.inputs[0].initial, Cp("會議通知"));
  std::string file;
  ASSERT_TRUE(ReadWholeFile(AppPath() + "subjectfilter.cfg", file));
  EXPECT_EQ(file, Cp("會議通知\r\n"));
  EXPECT_EQ(Ticks(), (std::vector<bool>{true, true, false}));
}

TEST_F(UnicodeRowsTest, SubjectBig5CannotWriteIsNotAdded) {
  AddUnicodeRow("안녕하세요 📅");
  Select(0);
  form->N1Click();
  EXPECT_TRUE(unicodeDialogs.inputs.empty());
  ASSERT_EQ(unicodeDialogs.unicodeMessages.size(), 1u);
  EXPECT_NE(unicodeDialogs.unicodeMessages[0].find("안녕하세요 📅"), std::string::npos);
  EXPECT_FALSE(FileExists(AppPath() + "subjectfilter.cfg"));
  EXPECT_TRUE(Program().FilterRuleList.empty());
}

TEST_F(UnicodeRowsTest, DownloadedFileIsNamedAfterTheShownSubject) {
  MailboxServer server({"Subject: =?utf-8?B?5Y2I6aSQIPCfjbEg5ZCD5LuA6bq8?=\r\n\r\nbody\r\n"});
  ASSERT_TRUE(server.Ok());
  server.Start();
  LogIn(server.Port());
  Select(0);
  form->btnDownloadClick();
  const std::string path = AppPath() + "ann(127.0.0.1)/午餐 🍱 吃什麼.eml";
  EXPECT_TRUE(FileExists(path));
  EXPECT_EQ(Shown(0, ColDownloadedFile), "午餐 🍱 吃什麼");
  // Reading finds the file by the subject; a desktop that cannot open it is
  // told with the file's name as shown.
  desktop.documentOpens = false;
  form->btnReadClick();
  ASSERT_EQ(desktop.documents.size(), 1u);
  EXPECT_EQ(desktop.documents[0].path, path);
  ASSERT_EQ(unicodeDialogs.unicodeMessages.size(), 1u);
  EXPECT_NE(unicodeDialogs.unicodeMessages[0].find("午餐 🍱 吃什麼.eml"), std::string::npos);
}

}  // namespace
}  // namespace brevan
