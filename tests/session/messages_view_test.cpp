// Reading and viewing downloaded messages, and the decode commands of the
// text pane, on a window without a connection.
#include <QPlainTextEdit>
#include <QTextCursor>

#include <gtest/gtest.h>

#include "app/dialogs.h"
#include "common/file_io.h"
#include "messages_fixture.h"
#include "session/TForm1.h"

namespace brevan {
namespace {

using testing_support::WindowTest;

class ViewTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    form->Session.SetDownloadLabel("ann(pop.example.com)");
  }
  std::string Folder() const { return AppPath() + "ann(pop.example.com)"; }
  void PutFile(const std::string& name) {
    ASSERT_TRUE(ForceDirectories(Folder()));
    ASSERT_TRUE(WriteFileAtomic(Folder() + "/" + name + ".eml", "Subject: x\r\n\r\nbody\r\n"));
  }
  std::string Asked() const { return Cp("你還沒下載此封信過, 要現在下載嗎?"); }
};

TEST_F(ViewTest, NothingSelectedDoesNothing) {
  AddRow("Re: a/b?");
  PutFile("Re_ a_b_");
  Select(-1);
  form->btnReadClick();
  form->BitBtn1Click();
  form->btnFirst100Click();
  form->btnDownloadClick();
  EXPECT_TRUE(desktop.documents.empty());
  EXPECT_TRUE(desktop.editors.empty());
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_TRUE(dialogs.questions.empty());
}

TEST_F(ViewTest, ReadFindsTheFileThroughTheSubjectAfterANewListing) {
  AddRow("Re: a/b?");  // the downloaded-file column is empty, as after a listing
  PutFile("Re_ a_b_");
  Select(0);
  form->btnReadClick();
  ASSERT_EQ(desktop.documents.size(), 1u);
  EXPECT_EQ(desktop.documents[0].path, Folder() + "/Re_ a_b_.eml");
  EXPECT_EQ(desktop.documents[0].folder, AppPath());
  EXPECT_TRUE(dialogs.questions.empty());
}

TEST_F(ViewTest, ReadFallsBackToTheDownloadedFileColumn) {
  AddRow("renamed since");
  form->SetRowText(0, ColDownloadedFile, "1");
  PutFile("1");
  Select(0);
  form->btnReadClick();
  ASSERT_EQ(desktop.documents.size(), 1u);
  EXPECT_EQ(desktop.documents[0].path, Folder() + "/1.eml");
}

TEST_F(ViewTest, PlainTextViewLooksOnlyAtTheSubject) {
  AddRow("  Hello  ");
  form->SetRowText(0, ColDownloadedFile, "1");
  PutFile("1");
  Select(0);
  form->BitBtn1Click();
  EXPECT_TRUE(desktop.editors.empty());
  ASSERT_EQ(dialogs.questions.size(), 1u);
  EXPECT_EQ(dialogs.questions[0], Asked());

  PutFile("Hello");
  form->BitBtn1Click();
  ASSERT_EQ(desktop.editors.size(), 1u);
  EXPECT_EQ(desktop.editors[0].path, Folder() + "/Hello.eml");
  EXPECT_EQ(desktop.editors[0].folder, AppPath());
}

// ---- when the desktop cannot open the file ----

enum class Viewer { Read, PlainText };

struct LaunchRow {
  const char* name;
  Viewer viewer;
  bool underColumn;  // the file is found through the downloaded-file column
  bool documentOpens, editorStarts;
  bool told;  // one message box of our own, naming the file and what was tried
};
void PrintTo(const LaunchRow& r, std::ostream* os) { *os << r.name; }

class LaunchOutcome : public ViewTest, public ::testing::WithParamInterface<LaunchRow> {};

TEST_P(LaunchOutcome, FailureIsToldOnce) {
  const LaunchRow& row = GetParam();
  AddRow("Hello");
  if (row.underColumn) {
    AddRow("Hello");  // row 2, renamed since: found as 2.eml only
    form->SetRowText(1, ColSubject, "renamed");
    form->SetRowText(1, ColDownloadedFile, "2");
    PutFile("2");
    Select(1);
  } else {
    PutFile("Hello");
    Select(0);
  }
  desktop.documentOpens = row.documentOpens;
  desktop.editorStarts = row.editorStarts;
  (row.viewer == Viewer::Read ? form->btnReadClick() : form->BitBtn1Click());

  const std::string path = Folder() + (row.underColumn ? "/2.eml" : "/Hello.eml");
  EXPECT_EQ(desktop.documents.size(), row.viewer == Viewer::Read ? 1u : 0u);
  EXPECT_EQ(desktop.editors.size(), row.viewer == Viewer::PlainText ? 1u : 0u);
  EXPECT_TRUE(dialogs.questions.empty());
  if (!row.told) {
    EXPECT_TRUE(dialogs.messages.empty());
    return;
  }
  ASSERT_EQ(dialogs.messages.size(), 1u);
  std::string expected;
  if (row.viewer == Viewer::Read) {
    expected = Cp("無法開啟信件檔 ") + path + Cp(":\n桌面環境沒有能開啟 .eml 檔的郵件程式 (已嘗試 xdg-open).");
  } else {
    expected = Cp("無法以純文字檢視信件檔 ") + path + Cp(":\n找不到可以啟動的文字編輯器 (已嘗試 ");
    for (const std::string& editor : TextEditorCandidates()) expected += editor + ", ";
    expected += "xdg-open).";
  }
  EXPECT_EQ(dialogs.messages[0], expected);
  EXPECT_EQ(expected.find('?'), std::string::npos) << "every character fits the code page";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LaunchOutcome,
    ::testing::Values(LaunchRow{"read_opens", Viewer::Read, false, true, true, false},
                      LaunchRow{"read_nothing_opens_it", Viewer::Read, false, false, true, true},
                      LaunchRow{"read_by_column_nothing_opens_it", Viewer::Read, true, false, true, true},
                      LaunchRow{"plain_text_starts", Viewer::PlainText, false, true, true, false},
                      LaunchRow{"plain_text_no_editor", Viewer::PlainText, false, true, false, true},
                      // The editor is the plain-text view's only way: the reader does not count.
                      LaunchRow{"plain_text_no_editor_and_no_reader", Viewer::PlainText, false, false, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ViewTest, NotDownloadedAnsweredNoDoesNothing) {
  AddRow("never fetched");
  Select(0);
  form->btnReadClick();
  ASSERT_EQ(dialogs.questions.size(), 1u);
  EXPECT_EQ(dialogs.questions[0], Asked());
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_TRUE(desktop.documents.empty());
}

TEST_F(ViewTest, NotDownloadedAnsweredYesWhileNotConnected) {
  AddRow("never fetched");
  Select(0);
  dialogs.answers = {true};
  form->btnReadClick();
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0], NotConnectedMessage());
}

TEST_F(ViewTest, TooLongSubjectIsFoundUnderItsNumber) {
  AddRow(std::string(300, 'x'));
  PutFile("1");
  Select(0);
  form->btnReadClick();
  ASSERT_EQ(desktop.documents.size(), 1u);
  EXPECT_EQ(desktop.documents[0].path, Folder() + "/1.eml");
}

// ---- decoding a selection ----

struct DecodeRow {
  const char* name;
  bool base64;
  std::string pane;  // UTF-8 as typed; "\n" breaks the pane's lines
  bool selectAll;
  std::string shown;  // the viewer's text, UTF-8
};
void PrintTo(const DecodeRow& r, std::ostream* os) { *os << r.name; }

class DecodeCommandTest : public WindowTest, public ::testing::WithParamInterface<DecodeRow> {};

TEST_P(DecodeCommandTest, ShowsTheDecodedSelection) {
  const DecodeRow& c = GetParam();
  Form2->Memo1->setPlainText(QStringLiteral("stale"));
  form->Memo1->setPlainText(QString::fromUtf8(c.pane.c_str()));
  if (c.selectAll) form->Memo1->selectAll();
  else {
    QTextCursor cursor = form->Memo1->textCursor();
    cursor.clearSelection();
    form->Memo1->setTextCursor(cursor);
  }
  if (c.base64) form->Base641Click();
  else form->Quoteprintable1Click();
  EXPECT_TRUE(Form2->isVisible());
  EXPECT_EQ(Form2->Memo1->toPlainText().toStdString(), c.shown);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeCommandTest,
    ::testing::Values(DecodeRow{"base64", true, "QUJD", true, "ABC"},
                      DecodeRow{"base64_over_lines", true, "QUJD\nRA==", true, "ABCD"},
                      DecodeRow{"base64_lines_of_result", true, "YQ0KYg1jCmQ=", true, "a\nb\nc\nd"},
                      DecodeRow{"base64_stops_at_nul", true, "YQBi", true, "a"},
                      DecodeRow{"base64_big5_result", true, "pKSk5Q==", true, "中文"},
                      DecodeRow{"nothing_selected", true, "QUJD", false, ""},
                      DecodeRow{"quoted_printable", false, "a=3Db", true, "a=b"},
                      DecodeRow{"quoted_printable_soft_break", false, "abc=\ndef", true, "abcdef"},
                      DecodeRow{"quoted_printable_hard_break_kept", false, "abc\ndef", true, "abc\ndef"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace brevan
