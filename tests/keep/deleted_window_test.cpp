// The window of kept copies, opened from the frame's menu: what it lists, and
// open, plain-text view and restore through the replaceable desktop and
// dialogs. A restored copy is found by the session window's read command
// without a question, as a download would be.
#include <QAction>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>

#include <filesystem>
#include <memory>

#include "../session/session_lifecycle_support.h"
#include "app/TMainForm.h"
#include "common/file_io.h"
#include "keep/TDeletedForm.h"
#include "keep/keep_setting.h"
#include "keep/kept_copies.h"
#include "session/TForm1.h"

namespace brevan::testing {
namespace {

namespace fs = std::filesystem;

class DeletedWindowTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    app_ = folder_ + "/";
    frame_ = std::make_unique<TMainForm>();
  }
  void TearDown() override {
    frame_.reset();
    WindowTest::TearDown();
  }

  std::string Keep(const std::string& label, const std::string& subject, std::time_t at, const std::string& body) {
    const std::string folder = KeptAccountFolder(app_, label);
    fs::create_directories(folder);
    TemporaryFile file;
    EXPECT_TRUE(file.Create(folder));
    EXPECT_TRUE(file.Write("From: someone@example.com\r\nSubject: " + subject + "\r\n\r\n" + body));
    std::string path;
    EXPECT_TRUE(PlaceKeptCopy(file, folder, subject, "1", at, &path));
    return path;
  }

  TDeletedForm* Open() {
    frame_->FileDeleted1->trigger();
    return frame_->DeletedForm;
  }

  void Select(TDeletedForm* window, int row) {
    window->ListView1->clearSelection();
    window->ListView1->topLevelItem(row)->setSelected(true);
  }

  std::string app_;
  std::unique_ptr<TMainForm> frame_;
};

TEST_F(DeletedWindowTest, TheFrameMenuOpensTheListNewestFirst) {
  const std::time_t now = std::time(nullptr);
  Keep("ann(pop.example.com)", "older", now - 3600, "a\r\n");
  Keep("bob(mail.example.com)", "newer", now, "b\r\n");
  EXPECT_TRUE(frame_->File1->actions().contains(frame_->FileDeleted1));
  TDeletedForm* window = Open();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->windowTitle(), QString::fromUtf8("已刪除的信件"));
  ASSERT_EQ(window->ListView1->topLevelItemCount(), 2);
  const QTreeWidgetItem* first = window->ListView1->topLevelItem(0);
  EXPECT_EQ(first->text(KeptColTime), QString::fromStdString(KeptTimeText(now)));
  EXPECT_EQ(first->text(KeptColAccount), QStringLiteral("bob(mail.example.com)"));
  EXPECT_EQ(first->text(KeptColSender), QStringLiteral("someone@example.com"));
  EXPECT_EQ(first->text(KeptColSubject), QStringLiteral("newer"));
  EXPECT_EQ(window->ListView1->topLevelItem(1)->text(KeptColSubject), QStringLiteral("older"));

  // A copy kept while the window is open shows when it is opened again.
  Keep("ann(pop.example.com)", "newest", now + 60, "c\r\n");
  EXPECT_EQ(Open(), window);
  EXPECT_EQ(window->ListView1->topLevelItemCount(), 3);
}

TEST_F(DeletedWindowTest, OpenAndPlainTextGoThroughTheDesktop) {
  const std::string path = Keep("ann(pop.example.com)", "hello", std::time(nullptr), "a\r\n");
  TDeletedForm* window = Open();
  window->btnOpen->click();  // nothing selected: nothing happens
  EXPECT_TRUE(desktop_.documents.empty());
  Select(window, 0);
  window->btnOpen->click();
  window->btnView->click();
  EXPECT_EQ(desktop_.documents, std::vector<std::string>{path});
  EXPECT_EQ(desktop_.edited, std::vector<std::string>{path});
  EXPECT_TRUE(dialogs_.errors.empty());
}

TEST_F(DeletedWindowTest, RestoredCopyIsWhereTheSessionWindowReadsDownloads) {
  const std::string label = "ann(pop.example.com)";
  const std::string kept = Keep(label, "Re: report?", std::time(nullptr), "the body\r\n");
  TDeletedForm* window = Open();
  Select(window, 0);
  window->btnRestore->click();
  EXPECT_FALSE(fs::exists(kept));
  EXPECT_EQ(window->ListView1->topLevelItemCount(), 0);
  ASSERT_EQ(dialogs_.messages.size(), 1u);

  // The session window, with the same account's label and a row of that
  // subject, opens the restored file without offering to download it.
  TForm1 form;
  form.Session.SetDownloadLabel(label);
  auto* item = new QTreeWidgetItem(form.ListView1);
  item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
  form.SetRowText(0, ColNumber, "4");
  form.SetRowText(0, ColSubject, "Re: report?");
  item->setSelected(true);
  form.btnReadClick();
  form.BitBtn1Click();
  EXPECT_TRUE(dialogs_.questions.empty());
  ASSERT_EQ(desktop_.documents.size(), 1u);
  ASSERT_EQ(desktop_.edited.size(), 1u);
  std::string contents;
  ASSERT_TRUE(ReadWholeFile(desktop_.documents[0], contents));
  EXPECT_EQ(contents, "From: someone@example.com\r\nSubject: Re: report?\r\n\r\nthe body\r\n");
  EXPECT_EQ(desktop_.edited[0], desktop_.documents[0]);
}

TEST_F(DeletedWindowTest, RestoreOverADownloadAsksFirst) {
  const std::string kept = Keep("u(s)", "same", std::time(nullptr), "kept\r\n");
  const std::string download = app_ + "u(s)/same.eml";
  fs::create_directories(app_ + "u(s)");
  WriteFileAtomic(download, "downloaded\r\n");
  TDeletedForm* window = Open();
  Select(window, 0);
  dialogs_.answers = {false};
  window->btnRestore->click();
  ASSERT_EQ(dialogs_.questions.size(), 1u);
  std::string contents;
  ReadWholeFile(download, contents);
  EXPECT_EQ(contents, "downloaded\r\n");
  EXPECT_TRUE(fs::exists(kept));
  EXPECT_EQ(window->ListView1->topLevelItemCount(), 1);

  dialogs_.answers = {true};
  Select(window, 0);
  window->btnRestore->click();
  ReadWholeFile(download, contents);
  EXPECT_NE(contents.find("kept"), std::string::npos);
  EXPECT_FALSE(fs::exists(kept));
}

TEST_F(DeletedWindowTest, TheDaysAreTheSettingFile) {
  WriteKeepSetting(app_, 12);
  TDeletedForm* window = Open();
  EXPECT_EQ(window->SpinDays->value(), 12);
  window->SpinDays->setValue(0);
  EXPECT_FALSE(ReadKeepSetting(app_).KeepsCopies());
  EXPECT_EQ(window->SpinDays->text(), QString::fromUtf8("不保留副本"));
  window->SpinDays->setValue(45);
  EXPECT_EQ(ReadKeepSetting(app_).days, 45);
}

}  // namespace
}  // namespace brevan::testing
