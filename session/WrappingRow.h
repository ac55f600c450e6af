#pragma once
// A row of control groups that wraps: the groups stand side by side while
// the row is wide enough for all of them at their minimum widths (the last
// one takes what is left), and one below the other, each the row's full
// width, when it is not. So no control is ever squeezed under another or cut
// off, whatever width the frame's arrangement gives the window.
#include <QLayout>
#include <QList>

namespace brevan {

class WrappingRow : public QLayout {
 public:
  explicit WrappingRow(QWidget* parent = nullptr);
  ~WrappingRow() override;

  void addItem(QLayoutItem* item) override;
  int count() const override;
  QLayoutItem* itemAt(int index) const override;
  QLayoutItem* takeAt(int index) override;

  Qt::Orientations expandingDirections() const override;
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;
  // The narrowest the row may be: its widest group, stacked.
  QSize minimumSize() const override;
  QSize sizeHint() const override;
  void setGeometry(const QRect& rect) override;

  // True when the groups fit side by side in the given width.
  bool FitsInOneRow(int width) const;

 private:
  int Gap() const;
  QList<QLayoutItem*> items_;
};

}  // namespace brevan
