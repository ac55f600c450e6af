#pragma once
// What the window tests share: dialogs and desktop that record what the
// window showed and answer as told, and a fixture with a fresh program folder.
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>

#include <chrono>
#include <cstdlib>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/dialogs.h"
#include "common/app_path.h"
#include "common/codepage.h"
#include "common/file_io.h"
#include "keep/keep_setting.h"
#include "common/tick.h"
#include "session/program_values.h"

namespace brevan::testing {

// What the window showed, in order, and the answers it gets.
struct RecordingDialogs : IDialogs {
  std::vector<std::string> messages, errors, questions;
  std::deque<bool> answers;  // for the confirmations; Yes when none is left
  std::function<void()> onShow;  // run inside every box, as a modal loop would run events

  void ShowMessage(QWidget*, const std::string& text) override {
    messages.push_back(text);
    if (onShow) onShow();
  }
  bool ConfirmYesCancel(QWidget*, const std::string& text) override { return Answer(text); }
  bool ConfirmYesNo(QWidget*, const std::string& text) override { return Answer(text); }
  std::string InputBox(QWidget*, const std::string&, const std::string&, const std::string& initial,
                       bool* accepted) override {
    if (accepted) *accepted = true;
    return initial;
  }
  void ShowError(QWidget*, const std::string& text) override { errors.push_back(text); }

 private:
  bool Answer(const std::string& text) {
    questions.push_back(text);
    if (answers.empty()) return true;
    bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

struct RecordingDesktop : IDesktop {
  std::vector<std::string> urls, documents, edited;
  bool OpenDocument(const std::string& path, const std::string&) override {
    documents.push_back(path);
    return true;
  }
  void OpenUrl(const std::string& url, const std::string&) override { urls.push_back(url); }
  bool LaunchTextEditor(const std::string& path, const std::string&) override {
    edited.push_back(path);
    return true;
  }
};

// Runs events until the condition holds or the bound passes; the bound only
// keeps a broken test from hanging.
inline bool WaitUntil(const std::function<bool()>& condition, int boundMs = 10000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

inline QApplication& TestApplication() {
  static int argc = 1;
  static char name[] = "brevan_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = QApplication::instance()
                                 ? static_cast<QApplication*>(QApplication::instance())
                                 : new QApplication(argc, argv);
  return *app;
}

// Runs what is waiting, including the deletion of closed windows.
inline void DrainEvents() {
  for (int i = 0; i < 3; ++i) {
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

// A fresh program folder, the recording dialogs and desktop, and program
// values as at start-up.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApplication();
    char pattern[] = "/tmp/brevan_window_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    folder_ = pattern;
    SetAppPathOverride(folder_);
    // These tests follow the deletion dialogue itself ("dele" after "dele");
    // the copies kept before it are tested in tests/keep.
    WriteFileAtomic(folder_ + "/" + kKeepSettingFileName, "0\r\n");
    Program() = ProgramValues{};
    SetDialogs(&dialogs_);
    SetDesktop(&desktop_);
  }
  void TearDown() override {
    DrainEvents();
    SetDialogs(nullptr);
    SetDesktop(nullptr);
    SetTickSource(nullptr);
    SetAppPathOverride("");
    std::string command = "rm -rf '" + folder_ + "'";
    [[maybe_unused]] int rc = std::system(command.c_str());
  }
  std::string File(const std::string& name) const { return folder_ + "/" + name; }

  std::string folder_;
  RecordingDialogs dialogs_;
  RecordingDesktop desktop_;
};

}  // namespace brevan::testing
