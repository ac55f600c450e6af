#include "app/TAboutBox.h"

#include <QHBoxLayout>
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
  OKButton = new QPushButton("OK", this);
  OKButton->setObjectName("OKButton");
  OKButton->setDefault(true);
  OKButton->setAutoDefault(true);
  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(OKButton);
  buttons->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(ProductName);
  layout->addWidget(Version);
  layout->addWidget(Comments);
  layout->addLayout(buttons);
  setFixedSize(sizeHint());
}

}  // namespace brevan
