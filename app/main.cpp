#include <QApplication>
#include <QScreen>

#include "app/TAboutBox.h"
#include "app/TMainForm.h"
#include "app/application.h"
#include "common/app_path.h"
#include "decode/TForm2.h"
#include "filter/TForm3.h"
#include "keep/keep_setting.h"
#include "session/TForm1.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  brevan::SetUpApplication(app);
  // Copies of deleted messages older than the kept days go before anything
  // else looks at them.
  brevan::ExpireKeptCopiesAtStart(brevan::AppFolder());

  // The windows of the program's whole run, in this order.
  auto* mainForm = new brevan::TMainForm;
  auto* aboutBox = new brevan::TAboutBox(mainForm);
  mainForm->AboutBox = aboutBox;
  // Without a window manager there is nobody to maximise the frame, so it
  // starts at the size of the screen in any case.
  if (QScreen* screen = QGuiApplication::primaryScreen()) mainForm->resize(screen->availableGeometry().size());
  mainForm->showMaximized();
  mainForm->CreateSessionWindow(QString::fromUtf8("Brevan v3.3 (未連線)"));
  brevan::Form2 = new brevan::TForm2;
  brevan::Form3 = new brevan::TForm3;
  // The program ends with the frame, whatever else is still open.
  brevan::Form2->setAttribute(Qt::WA_QuitOnClose, false);
  brevan::Form3->setAttribute(Qt::WA_QuitOnClose, false);

  const int result = app.exec();
  delete brevan::Form3;
  brevan::Form3 = nullptr;
  delete brevan::Form2;
  brevan::Form2 = nullptr;
  delete mainForm;
  return result;
}
