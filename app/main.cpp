#include <QApplication>

#include "app/TMainForm.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName(QString::fromUtf8("Mail - Brevan"));
  brevan::TMainForm frame;
  frame.showMaximized();
  return app.exec();
}
