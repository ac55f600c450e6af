#include "app/application.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>

// Q_INIT_RESOURCE must be used outside any namespace; the resource lives in
// the static library brevan_ui, so nothing would register it otherwise.
static void InitIconResource() { Q_INIT_RESOURCE(brevan_icons); }

namespace brevan {

bool InstallQtTranslation(QCoreApplication& app) {
  auto* translator = new QTranslator(&app);
  if (!translator->load(QStringLiteral("qtbase_zh_TW"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  return QCoreApplication::installTranslator(translator);
}

void SetUpApplication(QApplication& app) {
  QApplication::setApplicationName(QStringLiteral("Brevan"));
  // The window class (WM_CLASS "brevan", "Brevan") comes from the name above;
  // on Wayland the desktop file name is the window's application id.
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopId));
  InitIconResource();
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
    icon.addFile(QStringLiteral(":/icons/%1.png").arg(size), QSize(size, size));
  QApplication::setWindowIcon(icon);
  InstallQtTranslation(app);
}

}  // namespace brevan
