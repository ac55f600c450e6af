#include "app/dialogs.h"

#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTimer>

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
  bool ConfirmYesNoDefaultNo(QWidget* parent, const std::string& text) override {
    return QMessageBox::question(parent, BoxTitle(), ToQt(text), QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
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
  void ShowUnicodeMessage(QWidget* parent, const std::string& utf8) override {
    QMessageBox box(QMessageBox::NoIcon, BoxTitle(), QString::fromStdString(utf8), QMessageBox::Ok, parent);
    box.exec();
  }
};

// How long a started program may take to say it failed. xdg-open hands the
// file to the desktop and ends at once, with status 3 or 4 when nothing can
// open it; on some desktops it stays while the program it started runs, and
// then still running after this bound counts as started. The windows are
// serviced meanwhile.
constexpr int kLaunchVerdictMs = 1500;

// Starts program with one argument and tells whether it came up: false when
// it cannot be started, or ends within the bound with a failure status. A
// program still running is left to run, beyond this program's own end.
bool StartAndJudge(const QString& program, const QString& argument, const QString& workingFolder) {
  auto* process = new QProcess;
  process->setProgram(program);
  process->setArguments({argument});
  process->setWorkingDirectory(workingFolder);
  process->setStandardInputFile(QProcess::nullDevice());
  process->setStandardOutputFile(QProcess::nullDevice());
  process->setStandardErrorFile(QProcess::nullDevice());

  QEventLoop wait;
  bool failedToStart = false;
  bool finished = false;
  QObject::connect(process, &QProcess::errorOccurred, &wait, [&](QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart) return;  // a crash is told by finished
    failedToStart = true;
    wait.quit();
  });
  QObject::connect(process, &QProcess::finished, &wait, [&] {
    finished = true;
    wait.quit();
  });
  QTimer::singleShot(kLaunchVerdictMs, &wait, &QEventLoop::quit);
  process->start();
  if (!failedToStart && !finished) wait.exec();

  if (failedToStart) {
    delete process;
    return false;
  }
  if (finished) {
    const bool ok = process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0;
    delete process;
    return ok;
  }
  // Still running: the object goes when the program ends. It has no parent,
  // so the program's own end does not stop it.
  QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
  return true;
}

// The desktop's own "open" (xdg-open) for documents and addresses.
class XdgDesktop : public IDesktop {
 public:
  bool OpenDocument(const std::string& path, const std::string& workingFolder) override {
    const QString opener = QStandardPaths::findExecutable(DocumentOpener());
    if (opener.isEmpty()) return false;
    return StartAndJudge(opener, OsPath(path), OsPath(workingFolder));
  }
  void OpenUrl(const std::string& url, const std::string& workingFolder) override {
    // An address that cannot be opened is ignored; nothing waits for it.
    QProcess::startDetached(DocumentOpener(), {OsText(url)}, OsPath(workingFolder));
  }
  bool LaunchTextEditor(const std::string& path, const std::string& workingFolder) override {
    // A plain-text editor the desktop has, else whatever it opens the file with.
    for (const std::string& name : TextEditorCandidates()) {
      const QString program = QStandardPaths::findExecutable(QString::fromStdString(name));
      if (!program.isEmpty() && StartAndJudge(program, OsPath(path), OsPath(workingFolder))) return true;
    }
    return OpenDocument(path, workingFolder);
  }
};

IDialogs* g_dialogs = nullptr;
IDesktop* g_desktop = nullptr;

}  // namespace

void IDialogs::ShowUnicodeMessage(QWidget* parent, const std::string& utf8) { ShowMessage(parent, Utf8ToAnsi(utf8)); }

const char* DocumentOpener() { return "xdg-open"; }

const std::vector<std::string>& TextEditorCandidates() {
  static const std::vector<std::string> editors = {"gedit", "gnome-text-editor", "mousepad", "kate", "kwrite",
                                                   "pluma", "xed", "featherpad", "leafpad"};
  return editors;
}

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
