#pragma once
#include <QDialog>

class QLabel;
class QPushButton;

namespace brevan {

// The About box, shown modally from the frame's Help menu.
class TAboutBox : public QDialog {
  Q_OBJECT
 public:
  explicit TAboutBox(QWidget* parent = nullptr);
  QLabel* ProductName = nullptr;
  QLabel* Version = nullptr;
  QLabel* Comments = nullptr;
  QPushButton* OKButton = nullptr;
};

}  // namespace brevan
