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
  EXPECT_EQ(Shown(), QStringLiteral("second\n"));
}

// What the file held, what the editor shows, and what a save without an edit
// writes back: the same bytes, but for lone CR and lone LF, which are written
// as the CR LF every line of the file gets.
struct RoundTripRow {
  const char* name;
  std::string file;
  QString shown;
  std::string saved;
  std::vector<std::string> rules;
};
void PrintTo(const RoundTripRow& r, std::ostream* os) { *os << r.name; }

class EditorRoundTrip : public EditorTest, public ::testing::WithParamInterface<RoundTripRow> {};

TEST_P(EditorRoundTrip, SaveWithoutAnEditWritesTheFileBack) {
  const RoundTripRow& row = GetParam();
  ASSERT_TRUE(WriteFileAtomic(RulePath(), row.file));
  OpenAndClose([] { Form3->BitBtn1->click(); });
  EXPECT_EQ(Shown(), row.shown);
  EXPECT_EQ(FileText(), row.saved);
  EXPECT_EQ(Program().FilterRuleList, row.rules);
  EXPECT_TRUE(dialogs.errors.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, EditorRoundTrip,
    ::testing::Values(
        RoundTripRow{"final_crlf_kept", "a\r\nb\r\n", QStringLiteral("a\nb\n"), "a\r\nb\r\n", {"a", "b"}},
        RoundTripRow{"no_final_break_kept", "a\r\nb", QStringLiteral("a\nb"), "a\r\nb", {"a", "b"}},
        RoundTripRow{"empty_last_line_kept", "a\r\nb\r\n\r\n", QStringLiteral("a\nb\n\n"), "a\r\nb\r\n\r\n",
                     {"a", "b", ""}},
        RoundTripRow{"only_a_line_end", "\r\n", QStringLiteral("\n"), "\r\n", {""}},
        RoundTripRow{"empty_file", "", QString(), "", {}},
        RoundTripRow{"lone_lf_written_as_crlf", "a\nb\n", QStringLiteral("a\nb\n"), "a\r\nb\r\n", {"a", "b"}},
        RoundTripRow{"lone_cr_written_as_crlf", "a\rb\r", QStringLiteral("a\nb\n"), "a\r\nb\r\n", {"a", "b"}},
        RoundTripRow{"mixed_line_ends", "a\rb\nc\r\nd", QStringLiteral("a\nb\nc\nd"), "a\r\nb\r\nc\r\nd",
                     {"a", "b", "c", "d"}},
        RoundTripRow{"lf_cr_is_two_line_ends", "a\n\rb", QStringLiteral("a\n\nb"), "a\r\n\r\nb", {"a", "", "b"}},
        RoundTripRow{"nul_ends_the_text", std::string("a\r\n\0junk\r\n", 10), QStringLiteral("a\n"), "a\r\n", {"a"}},
        RoundTripRow{"big5_lines", "\xA4\xA4\xA4\xE5\r\n[!]\xB3\x5C\r\n", QString::fromUtf8("中文\n[!]許\n"),
                     "\xA4\xA4\xA4\xE5\r\n[!]\xB3\x5C\r\n", {"\xA4\xA4\xA4\xE5", "[!]\xB3\x5C"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EditorTest, RuleAppendedByAnotherProgramAfterASaveStartsItsOwnLine) {
  ASSERT_TRUE(WriteFileAtomic(RulePath(), "spam\r\n"));
  OpenAndClose([] { Form3->BitBtn1->click(); });
  std::string bytes = FileText();
  bytes += "offer\r\n";  // as another program appends a rule
  ASSERT_TRUE(WriteFileAtomic(RulePath(), bytes));
  OpenAndClose([] { Form3->BitBtn1->click(); });
  EXPECT_EQ(Program().FilterRuleList, (std::vector<std::string>{"spam", "offer"}));
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
