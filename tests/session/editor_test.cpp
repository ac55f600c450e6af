// The rule editor: what it shows, what it saves, and the re-application of the
// filter when it closes.
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "common/file_io.h"
#include "messages_fixture.h"

namespace brevan {
namespace {

using testing_support::WindowTest;

class EditorTest : public WindowTest {
 protected:
  std::string RulePath() const { return AppPath() + "subjectfilter.cfg"; }
  std::string FileText() const {
    std::string contents;
    return ReadWholeFile(RulePath(), contents) ? contents : std::string("<missing>");
  }
  // Opens the editor as the menu does and closes it from inside its loop.
  void OpenAndClose(const std::function<void()>& whileOpen = {}) {
    QTimer::singleShot(0, Form3, [whileOpen] {
      if (whileOpen) whileOpen();
      Form3->reject();
    });
    form->subjectfiltercfgE1Click();
  }
  QString Shown() const { return Form3->Memo1->toPlainText(); }
};

TEST_F(EditorTest, MissingFileShowsTheErrorThenAnEmptyEditor) {
  OpenAndClose();
  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_EQ(dialogs.errors[0], "Cannot open file " + RulePath() + ".");
  EXPECT_EQ(Shown(), QString());
}

TEST_F(EditorTest, SavingTheEmptyEditorCreatesAnEmptyFile) {
  Program().FilterRuleList = {"old"};
  OpenAndClose([] { Form3->BitBtn1->click(); });
  EXPECT_EQ(FileText(), "");
  EXPECT_TRUE(Program().FilterRuleList.empty());
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0], Cp("儲存完成. 將重新套用新內容於郵件列表."));
}

TEST_F(EditorTest, ShowsTheFileNotTheList) {
  Program().FilterRuleList = {"in the list only"};
  ASSERT_TRUE(WriteFileAtomic(RulePath(), std::string("one\r\ntwo\nthree\rfour\0hidden", 26)));
  OpenAndClose();
  EXPECT_EQ(Shown(), QStringLiteral("one\ntwo\nthree\nfour"));
  EXPECT_TRUE(dialogs.errors.empty());
  EXPECT_EQ(Program().FilterRuleList, (std::vector<std::string>{"in the list only"}))
      << "only a save reloads the list";
}

TEST_F(EditorTest, ReopeningReplacesTheTextFromTheFile) {
  ASSERT_TRUE(WriteFileAtomic(RulePath(), "first\r\n"));
  OpenAndClose();
  ASSERT_TRUE(WriteFileAtomic(RulePath(), "second\r\n"));
  OpenAndClose();
  EXPECT_EQ(Shown(), QStringLiteral("second"));
}

struct SaveRow {
  const char* name;
  QString typed;
  std::string file;
  std::vector<std::string> rules;
};
void PrintTo(const SaveRow& r, std::ostream* os) { *os << r.name; }

class EditorSaveTest : public EditorTest, public ::testing::WithParamInterface<SaveRow> {};

TEST_P(EditorSaveTest, WritesExactlyWhatTheEditorHolds) {
  Form3->Memo1->setPlainText(GetParam().typed);
  Form3->BitBtn1Click();
  EXPECT_EQ(FileText(), GetParam().file);
  EXPECT_EQ(Program().FilterRuleList, GetParam().rules);
  EXPECT_TRUE(dialogs.questions.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EditorSaveTest,
    ::testing::Values(
        SaveRow{"no_final_break", QStringLiteral("a\nb"), "a\r\nb", {"a", "b"}},
        SaveRow{"final_break", QStringLiteral("a\nb\n"), "a\r\nb\r\n", {"a", "b"}},
        SaveRow{"blank_lines_kept", QStringLiteral("\n  \nx"), "\r\n  \r\nx", {"", "  ", "x"}},
        SaveRow{"prefixes_untouched", QStringLiteral("[!][PCRE]^re:\n[PCRE](\n"),
                "[!][PCRE]^re:\r\n[PCRE](\r\n", {"[!][PCRE]^re:", "[PCRE]("}},
        SaveRow{"big5", QString::fromUtf8("中文\n"), "\xA4\xA4\xA4\xE5\r\n", {"\xA4\xA4\xA4\xE5"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EditorTest, CharactersOutsideTheCodePageAskFirst) {
  ASSERT_TRUE(WriteFileAtomic(RulePath(), "kept\r\n"));
  Program().FilterRuleList = {"kept"};
  Form3->Memo1->setPlainText(QString::fromUtf8("caf\xC3\xA9"));
  dialogs.answers = {false};
  Form3->BitBtn1Click();
  ASSERT_EQ(dialogs.questions.size(), 1u);
  EXPECT_EQ(FileText(), "kept\r\n") << "Cancel writes nothing";
  EXPECT_EQ(Program().FilterRuleList, (std::vector<std::string>{"kept"}));
  EXPECT_TRUE(dialogs.messages.empty());

  dialogs.answers = {true};
  Form3->BitBtn1Click();
  EXPECT_EQ(FileText(), "caf?");
  EXPECT_EQ(Program().FilterRuleList, (std::vector<std::string>{"caf?"}));
}

TEST_F(EditorTest, SaveFailureKeepsTheList) {
  Program().FilterRuleList = {"kept"};
  Program().AppPath = AppPath() + "missing/";
  Form3->Memo1->setPlainText(QStringLiteral("new"));
  Form3->BitBtn1->click();
  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_EQ(dialogs.errors[0], "Cannot create file " + AppPath() + "missing/subjectfilter.cfg.");
  EXPECT_EQ(Program().FilterRuleList, (std::vector<std::string>{"kept"}));
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(EditorTest, ClosingWithoutSavingStillRecomputesEveryMark) {
  ASSERT_TRUE(WriteFileAtomic(RulePath(), "lottery\r\n"));
  Program().FilterRuleList = {"lottery"};
  AddRow("hello");
  AddRow("lottery win");
  form->SetRowTicked(0, true);
  OpenAndClose();
  EXPECT_EQ(Ticks(), (std::vector<bool>{false, true}));
}

TEST_F(EditorTest, SavedRulesApplyWhenTheEditorCloses) {
  AddRow("cheap pills");
  AddRow("hello");
  OpenAndClose([] {
    Form3->Memo1->setPlainText(QStringLiteral("PILLS"));
    Form3->BitBtn1->click();
  });
  EXPECT_EQ(FileText(), "PILLS");
  EXPECT_EQ(Ticks(), (std::vector<bool>{true, false}));
}

TEST_F(EditorTest, DialogShape) {
  EXPECT_EQ(Form3->windowTitle(), QStringLiteral("subjectfilter.cfg"));
  EXPECT_EQ(Form3->size(), QSize(369, 425));
  EXPECT_TRUE(Form3->BitBtn1->isDefault());
  EXPECT_EQ(Form3->BitBtn1->text(), QString::fromUtf8("儲存(&S)"));
  EXPECT_EQ(Form3->BitBtn2->text(), QString::fromUtf8("關閉(&C)"));
  EXPECT_EQ(Form2->windowTitle(), QString::fromUtf8("解碼內容"));
}

}  // namespace
}  // namespace brevan
