#include "app/TMainForm.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPointer>
#include <QStatusBar>
#include <QToolBar>

#include <algorithm>

#include "app/TAboutBox.h"
#include "app/dialogs.h"
#include "app/qt_text.h"
#include "common/app_path.h"
#include "common/codepage.h"
#include "common/file_io.h"
#include "common/trim.h"
#include "learn/session_learning.h"
#include "keep/TDeletedForm.h"
#include "session/TForm1.h"
#include "session/message_file.h"
#include "session/program_values.h"

namespace brevan {
namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// shortHint is shown on the tool bar, longHint in the frame's status line.
QAction* MakeAction(QObject* owner, const char* name, const char* caption, const char* shortHint,
                    const char* longHint) {
  auto* action = new QAction(U(caption), owner);
  action->setObjectName(name);
  action->setToolTip(U(shortHint));
  action->setStatusTip(U(longHint));
  return action;
}

}  // namespace

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent) {
  setObjectName("MainForm");
  setWindowTitle(U("Brevan主控台"));
  MdiArea = new QMdiArea(this);
  MdiArea->setObjectName("MdiArea");
  // A session window never gets smaller than its controls need; what the
  // frame cannot show is reached by scrolling.
  MdiArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  MdiArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setCentralWidget(MdiArea);

  FileNew1 = MakeAction(this, "FileNew1", "新增(&N)", "New", "Create a new file");
  FileNew1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
  FileDeleted1 = MakeAction(this, "FileDeleted1", "已刪除的信件(&D)...", "Deleted messages",
                            "Copies kept of the messages deleted on the server");
  FileExit1 = MakeAction(this, "FileExit1", "離開(&X)", "Exit", "Exit application");
  WindowCascade1 = MakeAction(this, "WindowCascade1", "排列顯示(&C)", "Cascade", "Cascade");
  WindowTileHorizontal1 =
      MakeAction(this, "WindowTileHorizontal1", "水平顯示(&H)", "Tile Horizontally", "Tile Horizontally");
  WindowTileVertical1 =
      MakeAction(this, "WindowTileVertical1", "垂直顯示(&V)", "Tile Vertically", "Tile Vertically");
  WindowMinimizeAll1 = MakeAction(this, "WindowMinimizeAll1", "全部視窗最小化(&M)", "Minimize All", "Minimize All");
  HelpAbout1 = MakeAction(this, "HelpAbout1", "關於..(&A)", "", "");
  FileLearnJunk1 = MakeAction(this, "FileLearnJunk1", "從資料夾學習垃圾信(&J)...", "",
                              "Learn every .eml file of a folder as junk");
  FileLearnGood1 = MakeAction(this, "FileLearnGood1", "從資料夾學習正常信(&G)...", "",
                              "Learn every .eml file of a folder as good mail");

  auto run = [this](void (TMainForm::*method)()) {
    return [this, method] { RunHandler(this, [this, method] { (this->*method)(); }); };
  };
  connect(FileNew1, &QAction::triggered, this, run(&TMainForm::FileNew1Execute));
  connect(FileDeleted1, &QAction::triggered, this, run(&TMainForm::FileDeleted1Execute));
  connect(FileExit1, &QAction::triggered, this, run(&TMainForm::FileExit1Execute));
  connect(WindowCascade1, &QAction::triggered, this, run(&TMainForm::WindowCascade1Execute));
  connect(WindowTileHorizontal1, &QAction::triggered, this, run(&TMainForm::WindowTileHorizontal1Execute));
  connect(WindowTileVertical1, &QAction::triggered, this, run(&TMainForm::WindowTileVertical1Execute));
  connect(WindowMinimizeAll1, &QAction::triggered, this, run(&TMainForm::WindowMinimizeAll1Execute));
  connect(HelpAbout1, &QAction::triggered, this, run(&TMainForm::HelpAbout1Execute));
  connect(FileLearnJunk1, &QAction::triggered, this, run(&TMainForm::FileLearnJunk1Execute));
  connect(FileLearnGood1, &QAction::triggered, this, run(&TMainForm::FileLearnGood1Execute));

  File1 = menuBar()->addMenu(U("檔案(&F)"));
  File1->setObjectName("File1");
  File1->addAction(FileNew1);
  File1->addAction(FileDeleted1);
  File1->addSeparator();
  File1->addAction(FileLearnJunk1);
  File1->addAction(FileLearnGood1);
  File1->addSeparator();
  File1->addAction(FileExit1);
  Window1 = menuBar()->addMenu(U("視窗(&W)"));
  Window1->setObjectName("Window1");
  connect(Window1, &QMenu::aboutToShow, this, &TMainForm::UpdateWindowMenu);
  UpdateWindowMenu();
  Help1 = menuBar()->addMenu(U("說明(&H)"));
  Help1->setObjectName("Help1");
  Help1->addAction(HelpAbout1);

  ToolBar1 = addToolBar("ToolBar1");
  ToolBar1->setObjectName("ToolBar1");
  ToolBar1->addAction(FileNew1);
  ToolBar1->addSeparator();
  ToolBar1->addAction(WindowCascade1);
  ToolBar1->addAction(WindowTileHorizontal1);
  ToolBar1->addAction(WindowTileVertical1);

  statusBar();  // shows the long hints
}

QList<QMdiSubWindow*> TMainForm::LiveChildren() const {
  QList<QMdiSubWindow*> live;
  for (QMdiSubWindow* sub : MdiArea->subWindowList(QMdiArea::CreationOrder)) {
    auto* form = qobject_cast<TForm1*>(sub->widget());
    if (form && form->Closing()) continue;
    if (!form && sub->isHidden()) continue;
    live.append(sub);
  }
  return live;
}

QList<TForm1*> TMainForm::SessionWindows() const {
  QList<TForm1*> forms;
  for (QMdiSubWindow* sub : LiveChildren())
    if (auto* form = qobject_cast<TForm1*>(sub->widget())) forms.append(form);
  return forms;
}

void TMainForm::UpdateWindowMenu() {
  Window1->clear();
  Window1->addAction(WindowCascade1);
  Window1->addAction(WindowTileHorizontal1);
  Window1->addAction(WindowTileVertical1);
  Window1->addAction(WindowMinimizeAll1);
  windowListActions_.clear();
  const QList<QMdiSubWindow*> children = LiveChildren();
  if (children.isEmpty()) return;
  Window1->addSeparator();
  auto* group = new QActionGroup(Window1);
  QMdiSubWindow* active = MdiArea->activeSubWindow();
  int number = 1;
  for (QMdiSubWindow* sub : children) {
    QString text = number < 10 ? QString("&%1 %2").arg(number).arg(sub->windowTitle())
                               : QString("%1 %2").arg(number).arg(sub->windowTitle());
    QAction* action = Window1->addAction(text);
    action->setCheckable(true);
    action->setChecked(sub == active);
    group->addAction(action);
    QPointer<QMdiSubWindow> target(sub);
    connect(action, &QAction::triggered, this, [this, target] {
      if (target) MdiArea->setActiveSubWindow(target);
    });
    windowListActions_.append(action);
    ++number;
  }
}

TForm1* TMainForm::CreateSessionWindow(const QString& caption) {
  auto* form = new TForm1;
  form->setWindowTitle(caption);
  // Not deleted on close: the session window decides when it can go (never
  // while one of its handlers still runs), and destroys its frame with it.
  auto* sub = new QMdiSubWindow;
  sub->setWidget(form);
  sub->setAttribute(Qt::WA_DeleteOnClose, false);
  MdiArea->addSubWindow(sub);
  sub->showMaximized();
  return form;
}

void TMainForm::FileNew1Execute() {
  const int n = static_cast<int>(LiveChildren().size()) + 1;
  CreateSessionWindow(U("Brevan v3.2 (") + QString::number(n) + U(")(未連線)"));
}

void TMainForm::FileDeleted1Execute() {
  if (!DeletedForm) {
    // A window of its own, gone with the frame.
    DeletedForm = new TDeletedForm(this);
  } else {
    DeletedForm->Refresh();
  }
  DeletedForm->show();
  DeletedForm->raise();
  DeletedForm->activateWindow();
}

void TMainForm::FileExit1Execute() { close(); }

void TMainForm::LearnFolder(bool junk) {
  ProgramValues& program = Program();
  const std::string appPath = program.AppPath.empty() ? AppFolder() : program.AppPath;
  // The download folder holds the mail the user kept: that of the active
  // session window, else of the first one that connected.
  std::string label;
  if (QMdiSubWindow* active = MdiArea->activeSubWindow()) {
    if (auto* form = qobject_cast<TForm1*>(active->widget())) label = form->Session.DownloadLabel();
  }
  for (TForm1* form : SessionWindows()) {
    if (!label.empty()) break;
    label = form->Session.DownloadLabel();
  }
  const std::string offered = label.empty() ? appPath : DownloadFolder(appPath, label);
  bool accepted = false;
  const std::string typed = Dialogs().InputBox(this, Cp(junk ? "學習垃圾信" : "學習正常信"),
                                               Cp("要學習的 .eml 檔所在的資料夾:"), ShownPath(offered), &accepted);
  if (!accepted || IsBlank(typed)) return;
  // What was offered and left as it was is the folder itself, also where
  // its name has characters the code page lacks.
  const std::string folder = typed == ShownPath(offered) ? offered : AnsiToUtf8(typed);
  LearnedStore& store = SessionLearnedStore(appPath);
  const std::string problem = TakeLearnedStoreProblem(store);
  if (!problem.empty()) Dialogs().ShowMessage(this, problem);
  const int learned = LearnMessageFolder(store, folder, junk);
  if (learned < 0) {
    Dialogs().ShowMessage(this, Cp("無法從資料夾 ") + ShownPath(folder) + Cp(" 學習."));
    return;
  }
  Dialogs().ShowMessage(this, Cp("已從資料夾 ") + ShownPath(folder) + Cp(" 學習 ") + std::to_string(learned) +
                                  Cp(junk ? " 封信為垃圾信." : " 封信為正常信."));
}

void TMainForm::HelpAbout1Execute() {
  if (AboutBox) AboutBox->exec();
}

void TMainForm::WindowCascade1Execute() { MdiArea->cascadeSubWindows(); }

namespace {
// Lays the windows that are neither minimised nor hidden out in equal bands:
// rows (one above the other) or columns (side by side).
void TileInBands(QMdiArea* area, const QList<QMdiSubWindow*>& children, bool rows) {
  QList<QMdiSubWindow*> tiled;
  for (QMdiSubWindow* sub : children)
    if (!sub->isMinimized() && !sub->isHidden()) tiled.append(sub);
  if (tiled.isEmpty()) return;
  const QRect space = area->viewport()->rect();
  const int count = static_cast<int>(tiled.size());
  // A band narrower (or lower) than a window's minimum grows to it, and the
  // bands after it move along: the area then scrolls to them.
  int start = 0;
  for (int i = 0; i < count; ++i) {
    QMdiSubWindow* sub = tiled[i];
    if (sub->isMaximized()) sub->showNormal();
    const QSize minimum = sub->minimumSizeHint().expandedTo(sub->minimumSize());
    QRect band;
    if (rows) {
      const int share = space.height() * (i + 1) / count - space.height() * i / count;
      band = QRect(0, start, std::max(space.width(), minimum.width()), std::max(share, minimum.height()));
      start += band.height();
    } else {
      const int share = space.width() * (i + 1) / count - space.width() * i / count;
      band = QRect(start, 0, std::max(share, minimum.width()), std::max(space.height(), minimum.height()));
      start += band.width();
    }
    sub->setGeometry(band);
  }
}
}  // namespace

void TMainForm::WindowTileHorizontal1Execute() { TileInBands(MdiArea, LiveChildren(), true); }

void TMainForm::WindowTileVertical1Execute() { TileInBands(MdiArea, LiveChildren(), false); }

void TMainForm::WindowMinimizeAll1Execute() {
  const QList<QMdiSubWindow*> children = LiveChildren();
  for (auto it = children.rbegin(); it != children.rend(); ++it) (*it)->showMinimized();
}

void TMainForm::closeEvent(QCloseEvent* event) {
  // Each session window closes in its own way (a connected one disconnects
  // first); a window that refuses keeps the frame open.
  QList<QPointer<QMdiSubWindow>> children;
  for (QMdiSubWindow* sub : LiveChildren()) children.append(sub);
  for (const QPointer<QMdiSubWindow>& sub : children) {
    if (sub && !sub->close()) {
      event->ignore();
      return;
    }
  }
  if (DeletedForm) DeletedForm->close();
  event->accept();
}

}  // namespace brevan
