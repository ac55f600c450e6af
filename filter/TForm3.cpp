#include "filter/TForm3.h"

#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStringList>

#include <algorithm>
#include <string_view>

#include "app/dialogs.h"
#include "app/qt_text.h"
#include "common/codepage.h"
#include "common/file_io.h"
#include "common/text_lines.h"
#include "session/program_values.h"

namespace brevan {

TForm3* Form3 = nullptr;

namespace {
constexpr int kClientWidth = 369;
constexpr int kClientHeight = 425;
constexpr int kButtonTop = 400;
}  // namespace

TForm3::TForm3(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("Form3"));
  setWindowTitle(QStringLiteral("subjectfilter.cfg"));
  setFixedSize(kClientWidth, kClientHeight);
  setSizeGripEnabled(false);

  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setGeometry(0, 0, kClientWidth, 393);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  BitBtn1 = new QPushButton(ToQt(Cp("儲存(&S)")), this);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setGeometry(0, kButtonTop, 185, 25);
  BitBtn1->setDefault(true);

  BitBtn2 = new QPushButton(ToQt(Cp("關閉(&C)")), this);
  BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
  BitBtn2->setGeometry(kClientWidth - 177, kButtonTop, 177, 25);
  BitBtn2->setAutoDefault(false);

  connect(BitBtn1, &QPushButton::clicked, this, [this] { RunHandler(this, [this] { BitBtn1Click(); }); });
  connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
}

std::string TForm3::RuleFilePath() { return Program().AppPath + "subjectfilter.cfg"; }

void TForm3::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;  // a restore from minimised is no new opening
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
  RunHandler(this, [this] { FormShow(); });
}

void TForm3::FormShow() {
  const std::string path = RuleFilePath();
  std::string contents;
  if (!ReadWholeFile(path, contents)) {
    // The editor keeps what it held; the user may still type and save.
    Dialogs().ShowError(this, ErrorBoxText("Cannot open file " + ShownPath(path)));
    return;
  }
  // A NUL ends the text. The file's final line end stays visible as an empty
  // last line of the editor, so a save without an edit writes it back and a
  // rule another program appends later starts a line of its own.
  const std::string_view text(contents.data(), std::min(contents.size(), contents.find('\0')));
  QStringList lines;
  for (const std::string& line : SplitTextLines(text)) lines << ToQt(line);
  QString shown = lines.join(QLatin1Char('\n'));
  if (!text.empty() && (text.back() == '\r' || text.back() == '\n')) shown += QLatin1Char('\n');
  Memo1->setPlainText(shown);
}

void TForm3::BitBtn1Click() {
  const QString text = Memo1->toPlainText();
  const std::u16string_view wide(reinterpret_cast<const char16_t*>(text.utf16()),
                                 static_cast<size_t>(text.size()));
  if (!FitsCodePage(wide) &&
      !Dialogs().ConfirmYesCancel(
          this, Cp("規則中有字元無法以本機字碼頁 (Big5) 儲存, 這些字元會變成 \"?\". 仍要儲存嗎?"))) {
    return;
  }

  // The editor's lines are separated by line feeds; the file separates them by
  // CR LF, and a last line gets one only when the editor text ends with a break.
  std::string bytes;
  const std::string ansi = FromQt(text);
  bytes.reserve(ansi.size() + ansi.size() / 16);
  for (char c : ansi) {
    if (c == '\n') {
      bytes += "\r\n";
    } else {
      bytes += c;
    }
  }

  const std::string path = RuleFilePath();
  if (!WriteFileAtomic(path, bytes)) {
    Dialogs().ShowError(this, ErrorBoxText("Cannot create file " + ShownPath(path)));
    return;
  }
  std::string written;
  if (ReadWholeFile(path, written)) {
    Program().FilterRuleList = SplitTextLinesToNul(written);
  } else {
    // Read back failed right after a successful write: the bytes we wrote are
    // what the file holds.
    Program().FilterRuleList = SplitTextLinesToNul(bytes);
  }
  Dialogs().ShowMessage(this, Cp("儲存完成. 將重新套用新內容於郵件列表."));
}

}  // namespace brevan
