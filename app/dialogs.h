#pragma once
// Every message box, confirmation, text-input box and the default error box
// go through this one interface, so tests can answer them. Texts are in the
// code page; the implementation converts them for display.
#include <string>
#include <vector>

class QWidget;

namespace brevan {

class IDialogs {
 public:
  virtual ~IDialogs() = default;
  // A modal information box with an OK button.
  virtual void ShowMessage(QWidget* parent, const std::string& text) = 0;
  // Yes / Cancel; true for Yes. Closing the box counts as Cancel.
  virtual bool ConfirmYesCancel(QWidget* parent, const std::string& text) = 0;
  // Yes / No; true for Yes. Closing the box counts as No.
  virtual bool ConfirmYesNo(QWidget* parent, const std::string& text) = 0;
  // The same, with No as the default button: for questions where a hasty
  // Enter must not take the risk.
  virtual bool ConfirmYesNoDefaultNo(QWidget* parent, const std::string& text) { return ConfirmYesNo(parent, text); }
  // The text-input box; *accepted tells whether the user confirmed. On Cancel
  // the result is the initial text.
  virtual std::string InputBox(QWidget* parent, const std::string& caption, const std::string& prompt,
                               const std::string& initial, bool* accepted) = 0;
  // The default error box for a failure that escaped a handler.
  virtual void ShowError(QWidget* parent, const std::string& text) = 0;
  // The information box for a text in UTF-8: one that quotes a subject or a
  // file name, which the code page may not hold. Unless overridden it goes
  // to ShowMessage in the code page.
  virtual void ShowUnicodeMessage(QWidget* parent, const std::string& utf8);
};

// The desktop actions: opening a document or a web address with the desktop's
// default application, and launching the plain-text editor with one file.
// OpenDocument and LaunchTextEditor answer whether a program could be started
// for the file (false: the desktop has nothing to open it with, or no editor
// could be started), so the caller can say so.
// Paths and working folders are file-system bytes (common/file_io.h); a web
// address is code-page text.
class IDesktop {
 public:
  virtual ~IDesktop() = default;
  virtual bool OpenDocument(const std::string& path, const std::string& workingFolder) = 0;
  virtual void OpenUrl(const std::string& url, const std::string& workingFolder) = 0;
  virtual bool LaunchTextEditor(const std::string& path, const std::string& workingFolder) = 0;
};

// The program that opens documents, and the plain-text editors tried in this
// order before it, as the desktop actions use them (for messages that tell
// the user what was tried).
const char* DocumentOpener();
const std::vector<std::string>& TextEditorCandidates();

IDialogs& Dialogs();
IDesktop& Desktop();
// Tests install their own; nullptr restores the real ones.
void SetDialogs(IDialogs* dialogs);
void SetDesktop(IDesktop* desktop);

// The text shown for a failure: a full stop is added when it lacks one.
std::string ErrorBoxText(const std::string& what);

// Runs one handler so that nothing it throws reaches Qt's event loop: a
// failure is shown in the default error box.
template <class F>
void RunHandler(QWidget* parent, F&& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    Dialogs().ShowError(parent, ErrorBoxText(e.what()));
  } catch (...) {
    Dialogs().ShowError(parent, ErrorBoxText("Unknown failure"));
  }
}

}  // namespace brevan
