#include "decode/TForm2.h"

#include <QPlainTextEdit>
#include <QStringList>
#include <QVBoxLayout>

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

}  // namespace brevan
