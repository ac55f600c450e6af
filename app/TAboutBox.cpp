#include "app/TAboutBox.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/qt_text.h"
#include "session/TForm1.h"

namespace brevan {

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
  setObjectName("AboutBox");
  setWindowTitle(QString::fromUtf8("關於Brevan"));
  setModal(true);

  ProductName = new QLabel("Brevan", this);
  ProductName->setObjectName("ProductName");
  QFont big = ProductName->font();
  big.setBold(true);
  big.setPointSize(big.pointSize() + 4);
  ProductName->setFont(big);
  Version = new QLabel("v3.3", this);
  Version->setObjectName("Version");
  Comments = new QLabel(QString::fromUtf8("POP3 信箱預覽與清理工具") + "\n" + ToQt(HomePageUrl()), this);
  Comments->setObjectName("Comments");
  // A standard button, so its text comes from Qt's translation as the
  // message boxes' buttons do ("確定" with the Chinese catalogue installed).
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->setCenterButtons(true);
  OKButton = buttons->button(QDialogButtonBox::Ok);
  OKButton->setObjectName("OKButton");
  OKButton->setDefault(true);
  OKButton->setAutoDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(ProductName);
  layout->addWidget(Version);
  layout->addWidget(Comments);
  layout->addWidget(buttons);
  setFixedSize(sizeHint());
}

}  // namespace brevan
