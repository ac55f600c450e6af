#include "keep/TDeletedForm.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <stdexcept>

#include "app/dialogs.h"
#include "app/qt_text.h"
#include "common/app_path.h"
#include "common/file_io.h"
#include "keep/keep_setting.h"

namespace brevan {

namespace {

// Where the copy of a row is kept in the copies_ vector.
constexpr int kIndexRole = Qt::UserRole + 1;

}  // namespace

TDeletedForm::TDeletedForm(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("DeletedForm"));
  setWindowTitle(ToQt(Cp("已刪除的信件")));
  resize(720, 420);

  ListView1 = new QTreeWidget(this);
  ListView1->setObjectName(QStringLiteral("ListView1"));
  ListView1->setRootIsDecorated(false);
  ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
  ListView1->setHeaderLabels(
      {ToQt(Cp("刪除時間")), ToQt(Cp("帳號")), ToQt(Cp("寄件者")), ToQt(Cp("主旨"))});
  ListView1->header()->setStretchLastSection(true);
  ListView1->setColumnWidth(KeptColTime, 130);
  ListView1->setColumnWidth(KeptColAccount, 160);
  ListView1->setColumnWidth(KeptColSender, 180);

  const auto makeButton = [this](QPushButton*& button, const char* caption, const char* name) {
    button = new QPushButton(ToQt(Cp(caption)), this);
    button->setObjectName(QString::fromLatin1(name));
  };
  makeButton(btnOpen, "開啟", "btnOpen");
  makeButton(btnView, "純文字檢視", "btnView");
  makeButton(btnRestore, "還原", "btnRestore");
  makeButton(btnRefresh, "重新整理", "btnRefresh");

  LabelDays = new QLabel(ToQt(Cp("副本保留天數:")), this);
  LabelDays->setObjectName(QStringLiteral("LabelDays"));
  SpinDays = new QSpinBox(this);
  SpinDays->setObjectName(QStringLiteral("SpinDays"));
  SpinDays->setRange(0, kMaxKeepDays);
  // The file is written when a number is complete, not at every digit typed.
  SpinDays->setKeyboardTracking(false);
  // 0 is shown as what it means.
  SpinDays->setSpecialValueText(ToQt(Cp("不保留副本")));
  SpinDays->setToolTip(ToQt(Cp("刪除信件之前先保留副本的天數; 0 表示不保留副本")));
  LabelDays->setBuddy(SpinDays);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnOpen);
  buttons->addWidget(btnView);
  buttons->addWidget(btnRestore);
  buttons->addWidget(btnRefresh);
  buttons->addStretch(1);
  buttons->addWidget(LabelDays);
  buttons->addWidget(SpinDays);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(ListView1, 1);
  layout->addLayout(buttons);

  const auto handler = [this](void (TDeletedForm::*method)()) {
    return [this, method] { RunHandler(this, [this, method] { (this->*method)(); }); };
  };
  connect(btnOpen, &QPushButton::clicked, this, handler(&TDeletedForm::btnOpenClick));
  connect(btnView, &QPushButton::clicked, this, handler(&TDeletedForm::btnViewClick));
  connect(btnRestore, &QPushButton::clicked, this, handler(&TDeletedForm::btnRestoreClick));
  connect(btnRefresh, &QPushButton::clicked, this, handler(&TDeletedForm::Refresh));
  connect(ListView1, &QTreeWidget::itemDoubleClicked, this, handler(&TDeletedForm::btnOpenClick));
  connect(SpinDays, &QSpinBox::valueChanged, this,
          [this](int days) { RunHandler(this, [this, days] { SpinDaysChanged(days); }); });
  RunHandler(this, [this] { Refresh(); });
}

void TDeletedForm::Refresh() {
  const std::string appPath = AppFolder();
  refreshing_ = true;
  SpinDays->setValue(ReadKeepSetting(appPath).days);
  refreshing_ = false;
  copies_ = ListKeptCopies(appPath);
  ListView1->clear();
  QList<QTreeWidgetItem*> items;
  for (size_t i = 0; i < copies_.size(); ++i) {
    const KeptCopy& copy = copies_[i];
    auto* item = new QTreeWidgetItem;
    item->setText(KeptColTime, ToQt(KeptTimeText(copy.keptAt)));
    item->setText(KeptColAccount, ToQt(copy.account));
    item->setText(KeptColSender, QString::fromStdString(copy.sender));
    item->setText(KeptColSubject, QString::fromStdString(copy.subject));
    item->setData(KeptColTime, kIndexRole, static_cast<int>(i));
    items.append(item);
  }
  ListView1->addTopLevelItems(items);
}

const KeptCopy* TDeletedForm::SelectedCopy() const {
  const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
  if (selected.isEmpty()) return nullptr;
  const int index = selected.front()->data(KeptColTime, kIndexRole).toInt();
  if (index < 0 || static_cast<size_t>(index) >= copies_.size()) return nullptr;
  return &copies_[static_cast<size_t>(index)];
}

void TDeletedForm::btnOpenClick() {
  const KeptCopy* copy = SelectedCopy();
  if (!copy) return;
  if (!Desktop().OpenDocument(copy->path, AppFolder()))
    Dialogs().ShowMessage(this, Cp("沒有可以開啟這封信的程式: ") + ShownPath(copy->path));
}

void TDeletedForm::btnViewClick() {
  const KeptCopy* copy = SelectedCopy();
  if (!copy) return;
  if (!Desktop().LaunchTextEditor(copy->path, AppFolder()))
    Dialogs().ShowMessage(this, Cp("無法啟動文字編輯器: ") + ShownPath(copy->path));
}

void TDeletedForm::btnRestoreClick() {
  const KeptCopy* selected = SelectedCopy();
  if (!selected) return;
  const KeptCopy copy = *selected;
  const std::string appPath = AppFolder();
  std::string restored;
  RestoreEnd end = RestoreKeptCopy(appPath, copy, false, &restored);
  if (end == RestoreEnd::TargetExists) {
    if (!Dialogs().ConfirmYesNo(this, Cp("下載資料夾裡已經有同名的信件, 要用這份副本取代它嗎?"))) return;
    end = RestoreKeptCopy(appPath, copy, true, &restored);
  }
  if (end != RestoreEnd::Restored) {
    Dialogs().ShowMessage(this, Cp("無法還原這封信: ") + ShownPath(copy.path));
    return;
  }
  Refresh();
  Dialogs().ShowMessage(this, Cp("已還原到下載資料夾: ") + ShownPath(restored));
}

void TDeletedForm::SpinDaysChanged(int days) {
  if (refreshing_) return;
  if (!WriteKeepSetting(AppFolder(), days))
    throw std::runtime_error("Cannot create file \"" + ShownPath(AppFolder() + kKeepSettingFileName) + "\"");
}

}  // namespace brevan
