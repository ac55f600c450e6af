#include "app/TMainForm.h"

#include <QMdiArea>

namespace brevan {

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent) {
  setObjectName("MainForm");
  setWindowTitle(QString::fromUtf8("Brevan主控台"));
  MdiArea = new QMdiArea(this);
  setCentralWidget(MdiArea);
}

}  // namespace brevan
