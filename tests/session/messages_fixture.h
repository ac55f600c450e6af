#pragma once
// A session window under test: headless, in a temporary program folder, with
// every message box and desktop action answered and recorded.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/qt_text.h"
#include "common/app_path.h"
#include "common/file_io.h"
#include "common/text_lines.h"
#include "keep/keep_setting.h"
#include "decode/TForm2.h"
#include "filter/TForm3.h"
#include "session/TForm1.h"
#include "session/program_values.h"

namespace brevan::testing_support {

struct FakeDialogs : IDialogs {
  std::vector<std::string> messages;
  std::vector<std::string> errors;
  std::vector<std::string> questions;
  std::deque<bool> answers;  // for both kinds of question; empty answers No/Cancel
  struct InputCall {
    std::string caption, prompt, initial;
  };
  std::vector<InputCall> inputs;
  std::string inputResult;
  bool inputAccepted = true;

  void ShowMessage(QWidget*, const std::string& text) override { messages.push_back(text); }
  bool ConfirmYesCancel(QWidget*, const std::string& text) override { return Answer(text); }
  bool ConfirmYesNo(QWidget*, const std::string& text) override { return Answer(text); }
  std::string InputBox(QWidget*, const std::string& caption, const std::string& prompt,
                       const std::string& initial, bool* accepted) override {
    inputs.push_back({caption, prompt, initial});
    *accepted = inputAccepted;
    return inputAccepted ? inputResult : initial;
  }
  void ShowError(QWidget*, const std::string& text) override { errors.push_back(text); }

 private:
  bool Answer(const std::string& text) {
    questions.push_back(text);
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

struct FakeDesktop : IDesktop {
  struct Call {
    std::string path, folder;
  };
  std::vector<Call> documents, urls, editors;
  // What the desktop answers: whether a program could be started.
  bool documentOpens = true;
  bool editorStarts = true;
  bool OpenDocument(const std::string& path, const std::string& folder) override {
    documents.push_back({path, folder});
    return documentOpens;
  }
  void OpenUrl(const std::string& url, const std::string& folder) override { urls.push_back({url, folder}); }
  bool LaunchTextEditor(const std::string& path, const std::string& folder) override {
    editors.push_back({path, folder});
    return editorStarts;
  }
};

inline QApplication& App() {
  static int argc = 1;
  static char name[] = "brevan_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

class WindowTest : public ::testing::Test {
 protected:
  // Logs the window in as ann/pw to a loopback server (the login is followed
  // by the listing, as a click on the connect button is).
  void LogIn(int port) {
    form->ComboBox1->setEditText(QStringLiteral("127.0.0.1"));
    form->Edit3->setText(QString::number(port));
    form->Edit4->setText(QStringLiteral("ann"));
    form->Edit2->setText(QStringLiteral("pw"));
    form->btnConnectClick();
  }

  void SetUp() override {
    App();
    char pattern[] = "/tmp/brevan_msg_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    folder_ = pattern;
    SetAppPathOverride(folder_);
    // These tests follow the deletion dialogue itself ("dele" after "dele");
    // the copies kept before it are tested in tests/keep.
    WriteFileAtomic(folder_ + "/" + kKeepSettingFileName, "0\r\n");
    SetDialogs(&dialogs);
    SetDesktop(&desktop);
    Program() = ProgramValues{};
    if (!Form2) Form2 = new TForm2;
    if (!Form3) Form3 = new TForm3;
    Form2->hide();
    Form2->Memo1->clear();
    Form3->Memo1->clear();
    form = std::make_unique<TForm1>();
    Program().FilterRuleList.clear();
  }

  void TearDown() override {
    form.reset();
    QCoreApplication::processEvents();
    SetDialogs(nullptr);
    SetDesktop(nullptr);
    SetAppPathOverride("");
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  // The program folder, ending in "/".
  std::string AppPath() const { return folder_ + "/"; }

  // A row as the listing makes it.
  int AddRow(const std::string& subject, const std::string& size = "10") {
    auto* item = new QTreeWidgetItem(form->ListView1);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(ColNumber, Qt::Unchecked);
    const int row = form->ListView1->indexOfTopLevelItem(item);
    form->SetRowText(row, ColNumber, std::to_string(row + 1));
    form->SetRowText(row, ColSubject, subject);
    form->SetRowText(row, ColSize, size);
    form->Session.SetRow(row, {row + 1, form->ConnectionId(), size, {}});
    return row;
  }

  void Select(int row) {
    form->ListView1->clearSelection();
    if (row >= 0) form->ListView1->topLevelItem(row)->setSelected(true);
  }

  std::vector<bool> Ticks() const {
    std::vector<bool> ticks;
    for (int row = 0; row < form->ListView1->topLevelItemCount(); ++row) ticks.push_back(form->RowTicked(row));
    return ticks;
  }

  // True when the row is drawn on red; false when it has the list's own colour.
  bool Red(int row) const {
    const QBrush brush = form->ListView1->topLevelItem(row)->background(ColSubject);
    return brush.style() == Qt::SolidPattern && brush.color() == QColor(255, 0, 0);
  }

  FakeDialogs dialogs;
  FakeDesktop desktop;
  std::unique_ptr<TForm1> form;

 private:
  std::string folder_;
};

}  // namespace brevan::testing_support
