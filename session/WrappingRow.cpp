#include "session/WrappingRow.h"

#include <QWidget>

#include <algorithm>

namespace brevan {

WrappingRow::WrappingRow(QWidget* parent) : QLayout(parent) {}

WrappingRow::~WrappingRow() {
  while (QLayoutItem* item = takeAt(0)) delete item;
}

void WrappingRow::addItem(QLayoutItem* item) { items_.append(item); }
int WrappingRow::count() const { return static_cast<int>(items_.size()); }
QLayoutItem* WrappingRow::itemAt(int index) const { return index >= 0 && index < items_.size() ? items_[index] : nullptr; }
QLayoutItem* WrappingRow::takeAt(int index) {
  return index >= 0 && index < items_.size() ? items_.takeAt(index) : nullptr;
}

Qt::Orientations WrappingRow::expandingDirections() const { return Qt::Horizontal; }

int WrappingRow::Gap() const { return spacing() >= 0 ? spacing() : 6; }

bool WrappingRow::FitsInOneRow(int width) const {
  const QMargins m = contentsMargins();
  int needed = m.left() + m.right();
  int shown = 0;
  for (QLayoutItem* item : items_) {
    if (item->isEmpty()) continue;
    needed += item->minimumSize().width() + (shown++ > 0 ? Gap() : 0);
  }
  return needed <= width;
}

int WrappingRow::heightForWidth(int width) const {
  const QMargins m = contentsMargins();
  const bool oneRow = FitsInOneRow(width);
  int height = 0;
  int shown = 0;
  for (QLayoutItem* item : items_) {
    if (item->isEmpty()) continue;
    const int h = std::max(item->sizeHint().height(), item->minimumSize().height());
    height = oneRow ? std::max(height, h) : height + h + (shown > 0 ? Gap() : 0);
    ++shown;
  }
  return height + m.top() + m.bottom();
}

QSize WrappingRow::minimumSize() const {
  const QMargins m = contentsMargins();
  int width = 0;
  int height = 0;
  int shown = 0;
  for (QLayoutItem* item : items_) {
    if (item->isEmpty()) continue;
    width = std::max(width, item->minimumSize().width());
    height += std::max(item->sizeHint().height(), item->minimumSize().height()) + (shown++ > 0 ? Gap() : 0);
  }
  return QSize(width + m.left() + m.right(), height + m.top() + m.bottom());
}

QSize WrappingRow::sizeHint() const {
  const QMargins m = contentsMargins();
  int width = 0;
  int height = 0;
  int shown = 0;
  for (QLayoutItem* item : items_) {
    if (item->isEmpty()) continue;
    width += item->sizeHint().width() + (shown++ > 0 ? Gap() : 0);
    height = std::max(height, item->sizeHint().height());
  }
  return QSize(width + m.left() + m.right(), height + m.top() + m.bottom());
}

void WrappingRow::setGeometry(const QRect& rect) {
  QLayout::setGeometry(rect);
  const QRect area = rect.marginsRemoved(contentsMargins());
  QList<QLayoutItem*> shown;
  for (QLayoutItem* item : items_)
    if (!item->isEmpty()) shown.append(item);
  if (shown.isEmpty()) return;

  if (FitsInOneRow(rect.width())) {
    // Each group but the last gets its preferred width while the others'
    // minimum widths still fit; the last takes what is left.
    int spare = area.width() - Gap() * (static_cast<int>(shown.size()) - 1);
    for (QLayoutItem* item : shown) spare -= item->minimumSize().width();
    int x = area.left();
    for (int i = 0; i < shown.size(); ++i) {
      QLayoutItem* item = shown[i];
      int width = item->minimumSize().width();
      if (i + 1 < shown.size()) {
        const int extra = std::min(spare, std::max(0, item->sizeHint().width() - width));
        width += extra;
        spare -= extra;
      } else {
        width = area.right() + 1 - x;
      }
      item->setGeometry(QRect(x, area.top(), width, area.height()));
      x += width + Gap();
    }
    return;
  }
  int y = area.top();
  for (QLayoutItem* item : shown) {
    const int height = std::max(item->sizeHint().height(), item->minimumSize().height());
    item->setGeometry(QRect(area.left(), y, area.width(), height));
    y += height + Gap();
  }
}

}  // namespace brevan
