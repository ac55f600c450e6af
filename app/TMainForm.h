#pragma once
#include <QMainWindow>

class QAction;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QToolBar;

namespace brevan {

class TAboutBox;
class TDeletedForm;
class TForm1;

// The frame window that holds the session windows.
class TMainForm : public QMainWindow {
  Q_OBJECT
 public:
  explicit TMainForm(QWidget* parent = nullptr);

  QMdiArea* MdiArea = nullptr;
  TAboutBox* AboutBox = nullptr;  // set by the program entry

  QMenu* File1 = nullptr;
  QMenu* Window1 = nullptr;
  QMenu* Help1 = nullptr;
  QToolBar* ToolBar1 = nullptr;
  QAction* FileNew1 = nullptr;
  QAction* FileDeleted1 = nullptr;  // the window of kept copies
  QAction* FileExit1 = nullptr;
  // Teach the learned judgement a folder of .eml files as junk, or as good.
  QAction* FileLearnJunk1 = nullptr;
  QAction* FileLearnGood1 = nullptr;
  QAction* WindowCascade1 = nullptr;
  QAction* WindowTileHorizontal1 = nullptr;
  QAction* WindowTileVertical1 = nullptr;
  QAction* WindowMinimizeAll1 = nullptr;
  QAction* HelpAbout1 = nullptr;

  void FileNew1Execute();
  // Shows the window of kept copies ("已刪除的信件"), listed afresh.
  void FileDeleted1Execute();
  TDeletedForm* DeletedForm = nullptr;  // made the first time it is opened
  void FileExit1Execute();
  void FileLearnJunk1Execute() { LearnFolder(true); }
  void FileLearnGood1Execute() { LearnFolder(false); }
  // Asks for a folder (the last session's download folder offered) and
  // learns its .eml files in one batch.
  void LearnFolder(bool junk);
  void HelpAbout1Execute();
  void WindowCascade1Execute();
  void WindowTileHorizontal1Execute();
  void WindowTileVertical1Execute();
  void WindowMinimizeAll1Execute();

  // A new session window inside the frame, captioned and shown maximised.
  TForm1* CreateSessionWindow(const QString& caption);

  // The session windows open now, in the order they were created.
  QList<TForm1*> SessionWindows() const;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void UpdateWindowMenu();
  // The open child windows that are not on their way out.
  QList<QMdiSubWindow*> LiveChildren() const;
  QList<QAction*> windowListActions_;
};

}  // namespace brevan
