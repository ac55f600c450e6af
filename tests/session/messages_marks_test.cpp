// Deletion marks, their colours, the re-application of the filter and adding
// a subject to the rules, on a window without a connection.
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "common/file_io.h"
#include "messages_fixture.h"

namespace brevan {
namespace {

using testing_support::WindowTest;

std::string ReadFile(const std::string& path) {
  std::string contents;
  return ReadWholeFile(path, contents) ? contents : std::string("<missing>");
}

class MarksTest : public WindowTest {};

TEST_F(MarksTest, MarkTicksTheSelectedRowAndPaintsItRed) {
  AddRow("a");
  AddRow("b");
  Select(1);
  form->btnMarkDeleteClick();
  form->btnMarkDeleteClick();  // sets, never toggles
  EXPECT_EQ(Ticks(), (std::vector<bool>{false, true}));
  EXPECT_FALSE(Red(0));
  EXPECT_TRUE(Red(1));
}

TEST_F(MarksTest, MarkWithoutSelectionDoesNothing) {
  AddRow("a");
  Select(-1);
  form->btnMarkDeleteClick();
  EXPECT_EQ(Ticks(), (std::vector<bool>{false}));
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(MarksTest, MarkAllThenCancelAll) {
  for (const char* s : {"a", "b", "c"}) AddRow(s);
  form->btnDeleteAllClick();
  EXPECT_EQ(Ticks(), (std::vector<bool>{true, true, true}));
  for (int row = 0; row < 3; ++row) EXPECT_TRUE(Red(row));
  form->btnCancelAllClick();
  EXPECT_EQ(Ticks(), (std::vector<bool>{false, false, false}));
  for (int row = 0; row < 3; ++row) EXPECT_FALSE(Red(row));
}

TEST_F(MarksTest, TheUsersClickOnTheBoxRepaintsTheRow) {
  AddRow("a");
  QTreeWidgetItem* item = form->ListView1->topLevelItem(0);
  item->setCheckState(ColNumber, Qt::Checked);  // what a click on the box does
  EXPECT_TRUE(Red(0));
  item->setCheckState(ColNumber, Qt::Unchecked);
  EXPECT_FALSE(Red(0));
}

TEST_F(MarksTest, EmptyListButtonsDoNothing) {
  form->btnDeleteAllClick();
  form->btnCancelAllClick();
  form->btnMarkDeleteClick();
  EXPECT_EQ(form->ListView1->topLevelItemCount(), 0);
}

TEST_F(MarksTest, RowTextKeepsBytesTheDisplayCannotShow) {
  const int row = AddRow("\xA4\xA4\xFF\x80 odd");
  EXPECT_EQ(form->RowText(row, ColSubject), "\xA4\xA4\xFF\x80 odd");
}

TEST_F(MarksTest, ReapplyFilterReplacesHandMarks) {
  Program().FilterRuleList = {"lottery"};
  AddRow("hello");
  AddRow("Win the LOTTERY");
  AddRow("xlotteryx");
  form->SetRowTicked(0, true);   // by hand, no rule hits it
  form->SetRowTicked(1, false);  // by hand, a rule hits it
  form->ReapplyFilter();
  EXPECT_EQ(Ticks(), (std::vector<bool>{false, true, true}));
  EXPECT_FALSE(Red(0));
  EXPECT_TRUE(Red(1));
}

// ---- adding the selected subject to the rules ----

struct AddRow_ {
  const char* name;
  std::vector<std::string> subjects;
  int selected;
  std::vector<std::string> rulesBefore;
  bool accepted;
  std::string typed;
  std::vector<std::string> rulesAfter;
  bool announced;
  std::vector<bool> ticks;
};
void PrintTo(const AddRow_& r, std::ostream* os) { *os << r.name; }

class AddSubjectTest : public WindowTest, public ::testing::WithParamInterface<AddRow_> {};

TEST_P(AddSubjectTest, Adds) {
  const AddRow_& c = GetParam();
  for (const std::string& s : c.subjects) AddRow(s);
  Select(c.selected);
  Program().FilterRuleList = c.rulesBefore;
  dialogs.inputAccepted = c.accepted;
  dialogs.inputResult = c.typed;

  form->N1Click();

  EXPECT_EQ(Program().FilterRuleList, c.rulesAfter);
  EXPECT_EQ(Ticks(), c.ticks);
  if (c.announced) {
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0], Cp("重新套用過濾器於信件列表完成"));
    std::string expected;
    for (const std::string& rule : c.rulesAfter) expected += rule + "\r\n";
    EXPECT_EQ(ReadFile(AppPath() + "subjectfilter.cfg"), expected);
  } else {
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_FALSE(FileExists(AppPath() + "subjectfilter.cfg"));
  }
  EXPECT_TRUE(dialogs.errors.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AddSubjectTest,
    ::testing::Values(
        AddRow_{"no_selection", {"spam"}, -1, {}, true, "spam", {}, false, {false}},
        AddRow_{"empty_subject", {""}, 0, {}, true, "x", {}, false, {false}},
        AddRow_{"confirmed_as_shown",
                {"Cheap Pills", "more cheap pills", "other"},
                0,
                {},
                true,
                "Cheap Pills",
                {"Cheap Pills"},
                true,
                {true, true, false}},
        AddRow_{"edited_text", {"Cheap Pills today", "other"}, 0, {}, true, "pills", {"pills"}, true,
                {true, false}},
        AddRow_{"cancel_still_adds_unchanged", {"Offer today", "x"}, 0, {}, false, "ignored", {"Offer today"},
                true, {true, false}},
        AddRow_{"blank_adds_nothing", {"spam"}, 0, {}, true, "   \t", {}, false, {false}},
        AddRow_{"cleared_adds_nothing", {"spam"}, 0, {}, true, "", {}, false, {false}},
        AddRow_{"duplicate_adds_nothing", {"spam"}, 0, {"spam"}, true, "spam", {"spam"}, false, {false}},
        AddRow_{"other_case_is_a_second_line", {"SPAM"}, 0, {"spam"}, true, "SPAM", {"spam", "SPAM"}, true,
                {true}},
        AddRow_{"negated_subject",
                {"[!]invoice", "your invoice", "hello"},
                0,
                {},
                true,
                "[!]invoice",
                {"[!]invoice"},
                true,
                {false, false, true}},
        AddRow_{"line_break_in_subject_stays_one_rule", {"a\r\nb"}, 0, {}, true, "a\r\nb", {"a**b"}, true,
                {true}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MarksTest, AddSubjectFailingToWriteIsSilent) {
  AddRow("spam");
  Select(0);
  // The program folder is gone: the rule reaches the list but not the file.
  Program().AppPath = AppPath() + "missing/";
  dialogs.inputResult = "spam";
  form->N1Click();
  EXPECT_EQ(Program().FilterRuleList, (std::vector<std::string>{"spam"}));
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_TRUE(dialogs.errors.empty());
  EXPECT_EQ(Ticks(), (std::vector<bool>{false}));
}

TEST_F(MarksTest, InputBoxGetsCaptionPromptAndSubject) {
  AddRow("Hello");
  Select(0);
  dialogs.inputResult = "Hello";
  form->N1Click();
  ASSERT_EQ(dialogs.inputs.size(), 1u);
  EXPECT_EQ(dialogs.inputs[0].caption, "Subject");
  EXPECT_EQ(dialogs.inputs[0].prompt, "String");
  EXPECT_EQ(dialogs.inputs[0].initial, "Hello");
}

}  // namespace
}  // namespace brevan
