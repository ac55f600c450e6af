#include "app/dialogs.h"

#include <QFile>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

#include "app/application.h"
#include "app/qt_text.h"
#include "common/codepage.h"

namespace brevan {
namespace {

QString BoxTitle() { return QString::fromUtf8(kApplicationTitle); }

QString OsText(const std::string& ansi) { return QString::fromStdString(AnsiToUtf8(ansi)); }

// A file-system path as Qt hands it back to the operating system.
QString OsPath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

class QtDialogs : public IDialogs {
 public:
  void ShowMessage(QWidget* parent, const std::string& text) override {
    QMessageBox box(QMessageBox::NoIcon, BoxTitle(), ToQt(text), QMessageBox::Ok, parent);
    box.exec();
  }
  bool ConfirmYesCancel(QWidget* parent, const std::string& text) override {
    return QMessageBox::question(parent, BoxTitle(), ToQt(text), QMessageBox::Yes | QMessageBox::Cancel,
                                 QMessageBox::Cancel) == QMessageBox::Yes;
  }
  bool ConfirmYesNo(QWidget* parent, const std::string& text) override {
    return QMessageBox::question(parent, BoxTitle(), ToQt(text), QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::Yes) == QMessageBox::Yes;
  }
  std::string InputBox(QWidget* parent, const std::string& caption, const std::string& prompt,
                       const std::string& initial, bool* accepted) override {
    bool ok = false;
    QString result = QInputDialog::getText(parent, ToQt(caption), ToQt(prompt), QLineEdit::Normal,
                                           ToQt(initial), &ok);
    if (accepted) *accepted = ok;
    return ok ? FromQt(result) : initial;
  }
  void ShowError(QWidget* parent, const std::string& text) override {
    QMessageBox::critical(parent, BoxTitle(), ToQt(text));
  }
};

// The desktop's own "open" (xdg-open) for documents and addresses; nothing
// waits for the program it starts, and its outcome is not examined.
class XdgDesktop : public IDesktop {
 public:
  void OpenDocument(const std::string& path, const std::string& workingFolder) override {
    QProcess::startDetached("xdg-open", {OsPath(path)}, OsPath(workingFolder));
  }
  void OpenUrl(const std::string& url, const std::string& workingFolder) override {
    QProcess::startDetached("xdg-open", {OsText(url)}, OsPath(workingFolder));
  }
  void LaunchTextEditor(const std::string& path, const std::string& workingFolder) override {
    // A plain-text editor the desktop has, else whatever it opens text with.
    static const char* const kEditors[] = {"gedit", "gnome-text-editor", "mousepad", "kate", "kwrite",
                                           "pluma", "xed", "featherpad", "leafpad"};
    QString program;
    for (const char* name : kEditors) {
      program = QStandardPaths::findExecutable(name);
      if (!program.isEmpty()) break;
    }
    if (program.isEmpty()) program = "xdg-open";
    QProcess::startDetached(program, {OsPath(path)}, OsPath(workingFolder));
  }
};

IDialogs* g_dialogs = nullptr;
IDesktop* g_desktop = nullptr;

}  // namespace

IDialogs& Dialogs() {
  static QtDialogs real;
  return g_dialogs ? *g_dialogs : real;
}

IDesktop& Desktop() {
  static XdgDesktop real;
  return g_desktop ? *g_desktop : real;
}

void SetDialogs(IDialogs* dialogs) { g_dialogs = dialogs; }
void SetDesktop(IDesktop* desktop) { g_desktop = desktop; }

std::string ErrorBoxText(const std::string& what) {
  if (!what.empty() && what.back() == '.') return what;
  return what + ".";
}

}  // namespace brevan
