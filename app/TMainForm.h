#pragma once
#include <QMainWindow>

class QMdiArea;

namespace brevan {

// The frame window that holds the session windows.
class TMainForm : public QMainWindow {
  Q_OBJECT
 public:
  explicit TMainForm(QWidget* parent = nullptr);
  QMdiArea* MdiArea = nullptr;
};

}  // namespace brevan
