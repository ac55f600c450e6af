#pragma once
// The window of kept copies, "已刪除的信件" (deleted messages): every copy kept
// before a deletion, newest first, with the time it was kept, the account, the
// sender and the subject. A copy can be opened, viewed as plain text, or
// restored into its account's download folder; the days copies stay (0: none
// kept) are set here too. One window for the program, opened from the frame's
// menu.
#include <QWidget>

#include <string>
#include <vector>

#include "keep/kept_copies.h"

class QLabel;
class QPushButton;
class QSpinBox;
class QTreeWidget;

namespace brevan {

enum KeptColumn { KeptColTime = 0, KeptColAccount = 1, KeptColSender = 2, KeptColSubject = 3 };

class TDeletedForm : public QWidget {
  Q_OBJECT
 public:
  explicit TDeletedForm(QWidget* parent = nullptr);

  QTreeWidget* ListView1 = nullptr;
  QPushButton* btnOpen = nullptr;     // "開啟"
  QPushButton* btnView = nullptr;     // "純文字檢視"
  QPushButton* btnRestore = nullptr;  // "還原"
  QPushButton* btnRefresh = nullptr;  // "重新整理"
  QLabel* LabelDays = nullptr;
  QSpinBox* SpinDays = nullptr;       // the days copies stay; 0 keeps none

  // Reads the folder again and the setting with it.
  void Refresh();
  void btnOpenClick();
  void btnViewClick();
  void btnRestoreClick();
  void SpinDaysChanged(int days);

  // The copies as listed, in row order.
  const std::vector<KeptCopy>& Copies() const { return copies_; }

 private:
  // The selected row's copy; nullptr when none is selected.
  const KeptCopy* SelectedCopy() const;

  std::vector<KeptCopy> copies_;
  bool refreshing_ = false;
};

}  // namespace brevan
