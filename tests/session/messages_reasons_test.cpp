// Why a row is marked: the reason an automatic mark keeps on the row, and
// the row's hint that shows it under the list's own hint.
#include <QTreeWidget>

#include <gtest/gtest.h>

#include "common/codepage.h"
#include "messages_fixture.h"
#include "messages_mailbox.h"
#include "session/pop3_exchanges.h"

namespace brevan {
namespace {

using testing_support::MailboxServer;
using testing_support::WindowTest;

const char kHintUtf8[] = "按滑鼠右鍵可以將標題加入過濾器 (subjectfilter.cfg)";

class ReasonsTest : public WindowTest {
 protected:
  // The reason of every row, in the code page ("" for none).
  std::vector<std::string> Reasons() const {
    std::vector<std::string> reasons;
    for (int row = 0; row < form->ListView1->topLevelItemCount(); ++row) reasons.push_back(form->RowJunkReason(row));
    return reasons;
  }

  // Every column shows the same hint: the list's own, then the reason on a
  // line of its own; a row without a reason has no hint of its own, so the
  // list's shows.
  void ExpectHints() const {
    const QString hint = QString::fromUtf8(kHintUtf8);
    EXPECT_EQ(form->ListView1->toolTip(), hint);
    for (int row = 0; row < form->ListView1->topLevelItemCount(); ++row) {
      const std::string reason = form->RowJunkReason(row);
      QTreeWidgetItem* item = form->ListView1->topLevelItem(row);
      for (int column = 0; column < form->ListView1->columnCount(); ++column) {
        if (reason.empty()) {
          EXPECT_TRUE(item->toolTip(column).isEmpty()) << "row " << row << " column " << column;
        } else {
          EXPECT_EQ(item->toolTip(column), hint + "\n" + ToQt(reason)) << "row " << row << " column " << column;
        }
      }
    }
  }
};

std::string Word(const char* word) { return Cp("原因: 偽裝字 ") + word; }
std::string Rule(const std::string& rule, int line) {
  return Cp("原因: 規則 ") + rule + Cp(" (第 ") + std::to_string(line) + Cp(" 行)");
}

TEST(JunkReasonText, OwnWording) {
  JunkVerdict word;
  word.What = JunkVerdict::Kind::DisguisedWord;
  word.Word = "m0ney";
  EXPECT_EQ(AnsiToUtf8(JunkReasonText(word)), "原因: 偽裝字 m0ney");
  JunkVerdict rule;
  rule.What = JunkVerdict::Kind::Rule;
  rule.Rule = "*lottery*winner*";
  rule.Line = 3;
  EXPECT_EQ(AnsiToUtf8(JunkReasonText(rule)), "原因: 規則 *lottery*winner* (第 3 行)");
  EXPECT_EQ(JunkReasonText(JunkVerdict{}), "");
}

TEST_F(ReasonsTest, ReapplyGivesEachMarkItsReason) {
  Program().FilterRuleList = {"", "[!]*", "[PCRE]^re:"};
  Program().FilterRuleList[1] = "[PCRE]^\\[ad\\]";
  Program().FilterRuleList.push_back("*lottery*winner*");
  AddRow("Meeting at noon");
  AddRow("[AD] cheap");
  AddRow("Re: notes");
  AddRow("the lottery big winner");
  AddRow("free m0ney now");
  AddRow(Cp("免費 UTF8 lottery winner"));  // the disguise is tested first
  form->ReapplyFilter();
  EXPECT_EQ(Ticks(), (std::vector<bool>{false, true, true, true, true, true}));
  EXPECT_EQ(Reasons(), (std::vector<std::string>{"", Rule("[PCRE]^\\[ad\\]", 2), Rule("[PCRE]^re:", 3),
                                                 Rule("*lottery*winner*", 4), Word("m0ney"), Word("UTF8")}));
  ExpectHints();
}

TEST_F(ReasonsTest, ReapplyAfterEditingTheRulesUpdatesTheReasons) {
  Program().FilterRuleList = {"lottery", "invoice"};
  AddRow("lottery invoice");
  AddRow("invoice");
  AddRow("hello");
  form->ReapplyFilter();
  EXPECT_EQ(Reasons(), (std::vector<std::string>{Rule("lottery", 1), Rule("invoice", 2), ""}));
  // A rule line put in front moves the line numbers and marks a new row.
  Program().FilterRuleList = {"hello", "invoice"};
  form->ReapplyFilter();
  EXPECT_EQ(Ticks(), (std::vector<bool>{true, true, true}));
  EXPECT_EQ(Reasons(), (std::vector<std::string>{Rule("invoice", 2), Rule("invoice", 2), Rule("hello", 1)}));
  ExpectHints();
  // A removed rule takes its marks and their reasons away.
  Program().FilterRuleList.clear();
  form->ReapplyFilter();
  EXPECT_EQ(Ticks(), (std::vector<bool>{false, false, false}));
  EXPECT_EQ(Reasons(), (std::vector<std::string>{"", "", ""}));
  ExpectHints();
}

TEST_F(ReasonsTest, HandMarksCarryNoReasonAndUntickingClearsOne) {
  Program().FilterRuleList = {"spam"};
  AddRow("spam");
  AddRow("ham");
  AddRow("eggs");
  AddRow("more spam");
  form->ReapplyFilter();
  Select(1);
  form->btnMarkDeleteClick();
  EXPECT_EQ(Ticks(), (std::vector<bool>{true, true, false, true}));
  EXPECT_EQ(Reasons(), (std::vector<std::string>{Rule("spam", 1), "", "", Rule("spam", 1)}));
  // The user's click on the box unticks: the reason goes with the mark, and
  // a tick by the same box brings none back.
  QTreeWidgetItem* first = form->ListView1->topLevelItem(0);
  first->setCheckState(ColNumber, Qt::Unchecked);
  EXPECT_EQ(form->RowJunkReason(0), "");
  first->setCheckState(ColNumber, Qt::Checked);
  EXPECT_EQ(form->RowJunkReason(0), "");
  // Marking all ticks the rest by hand; a row the filter marked keeps why.
  form->btnDeleteAllClick();
  EXPECT_EQ(Ticks(), (std::vector<bool>{true, true, true, true}));
  EXPECT_EQ(Reasons(), (std::vector<std::string>{"", "", "", Rule("spam", 1)}));
  ExpectHints();
  form->btnCancelAllClick();
  EXPECT_EQ(Reasons(), (std::vector<std::string>{"", "", "", ""}));
  ExpectHints();
}

TEST_F(ReasonsTest, ListingMarksWithTheReasonOfTheFirstJunkSubject) {
  MailboxServer server({"Subject: lottery win\r\nSubject: r3fund\r\n\r\n", "Subject: harmless\r\n\r\n",
                        "Subject: cheap l0an\r\n\r\n", "Subject: hi\r\nSubject: more lottery\r\n\r\n"});
  ASSERT_TRUE(WriteFileAtomic(AppPath() + "subjectfilter.cfg", "# rules\r\n\r\nlottery\r\n"));
  ASSERT_TRUE(server.Ok());
  server.Start();
  LogIn(server.Port());
  ASSERT_EQ(form->ListView1->topLevelItemCount(), 4);
  EXPECT_EQ(Ticks(), (std::vector<bool>{true, false, true, true}));
  EXPECT_EQ(Reasons(), (std::vector<std::string>{Rule("lottery", 3), "", Word("l0an"), Rule("lottery", 3)}));
  ExpectHints();
}

}  // namespace
}  // namespace brevan
