#include "decode/TForm2.h"

#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStringList>
#include <QVBoxLayout>

#include <algorithm>

#include "app/qt_text.h"
#include "common/text_lines.h"

namespace brevan {

TForm2* Form2 = nullptr;

TForm2::TForm2(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(ToQt(Cp("解碼內容")));
  resize(359, 266);

  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(Memo1);
}

void TForm2::SetDecodedText(std::string_view ansi) {
  QStringList lines;
  for (const std::string& line : SplitTextLinesToNul(ansi)) lines << ToQt(line);
  Memo1->setPlainText(lines.join(QLatin1Char('\n')));
}

void TForm2::ShowOver(QWidget* frame) {
  if (!placed_) {
    QRect over;
    QScreen* screen = nullptr;
    if (frame) {
      over = frame->window()->frameGeometry();
      screen = frame->window()->screen();
    }
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (over.isEmpty() && screen) over = screen->availableGeometry();
    QRect placed(QPoint(0, 0), frameGeometry().size());
    placed.moveCenter(over.center());
    // Whole on the screen where it can be: its title bar never goes off the top.
    if (screen) {
      const QRect area = screen->availableGeometry();
      placed.moveLeft(std::max(area.left(), std::min(placed.left(), area.right() - placed.width() + 1)));
      placed.moveTop(std::max(area.top(), std::min(placed.top(), area.bottom() - placed.height() + 1)));
    }
    move(placed.topLeft());
    placed_ = true;
  }
  show();
  raise();
  activateWindow();
}

}  // namespace brevan
