// The session window's work on the message list: the header listing, the
// deletion marks and their colours, preview, download and viewing, the decode
// commands of the text pane, rule editing from the list's menu, and the
// lessons the learned judgement takes from what the user does.
#include <QBrush>
#include <QByteArray>
#include <QColor>
#include <QComboBox>
#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStringList>
#include <QTextCursor>
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <optional>
#include <stdexcept>
#include <vector>

#include "app/dialogs.h"
#include "app/qt_text.h"
#include "common/file_io.h"
#include "common/text_lines.h"
#include "common/tick.h"
#include "common/trim.h"
#include "decode/TForm2.h"
#include "decode/codecs.h"
#include "filter/TForm3.h"
#include "learn/session_learning.h"
#include "filter/filter_rules.h"
#include "filter/subject_rule.h"
#include "session/TForm1.h"
#include "session/outstanding_exchange.h"
#include "session/message_download.h"
#include "session/message_file.h"
#include "session/pipelined_listing.h"
#include "session/pop3_exchanges.h"
#include "session/program_values.h"
#include "session/reply_drain.h"

namespace brevan {

namespace {

const QColor kMarkedBackground(255, 0, 0);

// A row keeps its texts as the code-page bytes they came from, so reading a
// column back gives exactly what was stored even where the display could not
// show a byte sequence.
constexpr int kBytesRole = Qt::UserRole + 1;
// The reason an automatic mark gave a row, in the code page, on the row's
// number column; absent on a row that is not marked or was marked by hand.
constexpr int kJunkReasonRole = Qt::UserRole + 2;

// The header block the listing kept for the row (the learned judgement's
// input), on the number column.
constexpr int kHeaderBlockRole = Qt::UserRole + 4;
// On a row that the learned verdict kept unticked although a disguised word
// would have ticked it: both, in the code page.
constexpr int kLearnedNoteRole = Qt::UserRole + 5;
// The tick the row had when last drawn: a change of it that the program did
// not make is the user's hand.
constexpr int kDrawnTickRole = Qt::UserRole + 6;

std::string ItemBytes(const QTreeWidgetItem* item, int role) {
  const QByteArray raw = item->data(ColNumber, role).toByteArray();
  return std::string(raw.constData(), static_cast<size_t>(raw.size()));
}

// Every column's hint: the list's own hint, then the reason (or the learned
// note) on its own line; without either the row has no hint of its own and
// the list's shows.
void ShowItemHint(QTreeWidgetItem* item, const QString& listHint) {
  const int columns = item->treeWidget() ? item->treeWidget()->columnCount() : item->columnCount();
  std::string text = ItemBytes(item, kJunkReasonRole);
  if (text.empty()) text = ItemBytes(item, kLearnedNoteRole);
  if (text.empty()) {
    for (int column = 0; column < columns; ++column) {
      if (item->data(column, Qt::ToolTipRole).isValid()) item->setData(column, Qt::ToolTipRole, QVariant());
    }
    return;
  }
  const QString tip = listHint + QStringLiteral("\n") + ToQt(text);
  for (int column = 0; column < columns; ++column) item->setToolTip(column, tip);
}

void SetItemBytes(QTreeWidgetItem* item, int role, const std::string& text) {
  if (text.empty()) {
    if (item->data(ColNumber, role).isValid()) item->setData(ColNumber, role, QVariant());
  } else {
    item->setData(ColNumber, role, QByteArray(text.data(), static_cast<qsizetype>(text.size())));
  }
}

void ShowItemJunkReason(QTreeWidgetItem* item, const QString& listHint, const std::string& reason) {
  if (reason.empty() && !item->data(ColNumber, kJunkReasonRole).isValid()) return;
  SetItemBytes(item, kJunkReasonRole, reason);
  ShowItemHint(item, listHint);
}

void ProcessEvents() { QCoreApplication::processEvents(); }

// A whole decimal integer, as the row's number and size columns hold it.
int ParseInteger(const std::string& text) {
  int value = 0;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;
  const auto [end, error] = std::from_chars(first, last, value);
  if (text.empty() || first == last || error != std::errc() || end != last) {
    throw std::runtime_error("'" + SanitizeServerLine(text) + "' is not a valid integer value");
  }
  return value;
}

// The eight command buttons are off while a command talks to the server, so
// the user can start no second exchange on the connection meanwhile.
class CommandButtonsOff {
 public:
  // restoreAll: enable all eight at the end (the listing); otherwise each
  // button gets back the state it had.
  CommandButtonsOff(TForm1& window, bool restoreAll) : window_(window), restoreAll_(restoreAll) {
    for (QPushButton* button : Buttons()) {
      wasEnabled_.push_back(button && button->isEnabled());
      if (button) button->setEnabled(false);
    }
  }
  ~CommandButtonsOff() {
    const std::vector<QPushButton*> buttons = Buttons();
    for (size_t i = 0; i < buttons.size(); ++i) {
      if (buttons[i]) buttons[i]->setEnabled(restoreAll_ || wasEnabled_[i]);
    }
  }
  void KeepEnabled(QPushButton* button) {
    const std::vector<QPushButton*> buttons = Buttons();
    for (size_t i = 0; i < buttons.size(); ++i) {
      if (buttons[i] == button) wasEnabled_[i] = true;
    }
  }
  CommandButtonsOff(const CommandButtonsOff&) = delete;
  CommandButtonsOff& operator=(const CommandButtonsOff&) = delete;

 private:
  std::vector<QPushButton*> Buttons() const {
    return {window_.btnFirst100,   window_.btnDownload,  window_.btnRead,           window_.btnMarkDelete,
            window_.btnDeleteAll,  window_.btnCancelAll, window_.btnRetrieveHeader, window_.BitBtn1};
  }
  TForm1& window_;
  bool restoreAll_;
  std::vector<bool> wasEnabled_;
};

QString LinesForDisplay(const std::vector<std::string>& lines) {
  QStringList shown;
  for (const std::string& line : lines) shown << ToQt(line);
  return shown.join(QLatin1Char('\n'));
}

// The selection of a text pane in the code page. Qt hands paragraph breaks
// over as U+2029; the decoders want the CR LF the pane's text came with.
std::string SelectionBytes(QPlainTextEdit* pane) {
  QString text = pane->textCursor().selectedText();
  text.replace(QChar(0x2029), QStringLiteral("\r\n"));
  text.replace(QChar(0x2028), QStringLiteral("\r\n"));
  return FromQt(text);
}

void ShowDecoded(std::string (*decode)(std::string_view), QPlainTextEdit* pane) {
  if (!Form2) return;
  Form2->ShowOver(pane);
  Form2->Memo1->clear();
  try {
    Form2->SetDecodedText(decode(SelectionBytes(pane)));
  } catch (...) {
    // A selection that cannot be decoded leaves the viewer empty.
  }
}

// A rule must stay one line of the rule file: a line break or NUL typed into
// the input box becomes "*", so a reload reads back the same single rule.
std::string OneRuleLine(std::string rule) {
  for (char& ch : rule) {
    if (ch == '\r' || ch == '\n' || ch == '\0') ch = '*';
  }
  return rule;
}

std::string RuleFilePath() { return Program().AppPath + "subjectfilter.cfg"; }

// A failure of the connection while the window closes (the close itself
// ends the session under a waiting command) is no news to the user.
template <class F>
void QuietWhenClosing(TForm1& window, F&& body) {
  try {
    body();
  } catch (...) {
    if (window.Closing()) return;
    throw;
  }
}

// Appends a message row: its number, five empty columns, no mark. The row is complete before it joins the list, so the
// list reports one change, not one per field.
int AppendMessageRow(TForm1& window, int number) {
  auto* item = new QTreeWidgetItem;
  item->setFlags((item->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsEditable);
  item->setCheckState(ColNumber, Qt::Unchecked);
  const std::string numberText = std::to_string(number);
  item->setText(ColNumber, ToQt(numberText));
  item->setData(ColNumber, kBytesRole, QByteArray(numberText.data(), static_cast<qsizetype>(numberText.size())));
  for (int column = ColSender; column <= ColDownloadedFile; ++column) item->setData(column, kBytesRole, QByteArray());
  window.ListView1->addTopLevelItem(item);
  return window.ListView1->topLevelItemCount() - 1;
}

// The learned store for judging, null while there is none; its problem,
// if any, is told once.
LearnedStore* JudgingStore(TForm1& window) {
  LearnedStore* store = SessionJudgingStore(Program().AppPath);
  if (store) {
    const std::string problem = TakeLearnedStoreProblem(*store);
    if (!problem.empty()) Dialogs().ShowMessage(&window, problem);
  }
  return store;
}

// Ticks the row, or leaves it, as the subject tests and the learned verdict
// decide together; the hint tells why.
void ApplyRowMark(TForm1& window, int row, const RowMark& mark) {
  QTreeWidgetItem* item = window.ListView1->topLevelItem(row);
  if (!item) return;
  if (mark.Tick) {
    window.SetRowTicked(row, true);
    window.SetRowJunkReason(row, mark.SubjectReason.IsJunk() ? JunkReasonText(mark.SubjectReason) : mark.LearnedNote);
  } else if (!mark.LearnedNote.empty()) {
    SetItemBytes(item, kLearnedNoteRole, mark.LearnedNote);
    ShowItemHint(item, window.ListView1->toolTip());
  }
}

// Fills a listed row from its message's headers. The listing only ever
// ticks: a mark the user set meanwhile stays.
void FillMessageRow(TForm1& window, int row, const ListedHeaders& headers) {
  const std::string block = ListedHeaderBlock(headers.HeaderLines);
  {
    // A text leaves the row's colour as it is: the list need not hear of
    // each one (the view still repaints the row).
    const QSignalBlocker quiet(window.ListView1);
    window.SetRowUnicodeText(row, ColSender, headers.Sender);
    window.SetRowUnicodeText(row, ColSubject, headers.Subject);
    window.SetRowText(row, ColDate, headers.Date);
    if (QTreeWidgetItem* item = window.ListView1->topLevelItem(row)) SetItemBytes(item, kHeaderBlockRole, block);
  }
  const JunkVerdict subjectVerdict = headers.Junk ? headers.Reason : JunkVerdict{};
  ApplyRowMark(window, row,
               MarkListedRow(JudgingStore(window), Program().FilterRuleList, headers.Subject, subjectVerdict, block));
}

// When nothing could be started for a downloaded message, the user is told
// so, with the file and the programs that were tried. In UTF-8: the file is
// named after the subject, which the code page may not hold.
std::string ShownPathUtf8(const std::string& path) { return QString::fromStdString(path).toStdString(); }

std::string CannotOpenMessageText(const std::string& path) {
  return "無法開啟信件檔 " + ShownPathUtf8(path) + ":\n桌面環境沒有能開啟 .eml 檔的郵件程式 (已嘗試 " + DocumentOpener() + ").";
}

std::string CannotEditMessageText(const std::string& path) {
  std::string tried;
  for (const std::string& editor : TextEditorCandidates()) tried += editor + ", ";
  return "無法以純文字檢視信件檔 " + ShownPathUtf8(path) + ":\n找不到可以啟動的文字編輯器 (已嘗試 " + tried +
         DocumentOpener() + ").";
}

}  // namespace

// ---- rows ----

std::string TForm1::RowText(int row, int column) const {
  QTreeWidgetItem* item = ListView1->topLevelItem(row);
  if (!item) return std::string();
  const QVariant bytes = item->data(column, kBytesRole);
  if (bytes.isValid()) {
    const QByteArray raw = bytes.toByteArray();
    return std::string(raw.constData(), static_cast<size_t>(raw.size()));
  }
  return FromQt(item->text(column));
}

void TForm1::SetRowText(int row, int column, const std::string& text) {
  QTreeWidgetItem* item = ListView1->topLevelItem(row);
  if (!item) return;
  item->setText(column, ToQt(text));
  item->setData(column, kBytesRole, QByteArray(text.data(), static_cast<qsizetype>(text.size())));
}

std::string TForm1::RowUnicodeText(int row, int column) const {
  QTreeWidgetItem* item = ListView1->topLevelItem(row);
  return item ? item->text(column).toStdString() : std::string();
}

void TForm1::SetRowUnicodeText(int row, int column, const std::string& utf8) {
  QTreeWidgetItem* item = ListView1->topLevelItem(row);
  if (!item) return;
  item->setText(column, QString::fromStdString(utf8));
  // No code-page bytes: RowText reads the shown text in the code page.
  item->setData(column, kBytesRole, QVariant());
}

bool TForm1::RowTicked(int row) const {
  QTreeWidgetItem* item = ListView1->topLevelItem(row);
  return item && item->checkState(ColNumber) == Qt::Checked;
}

void TForm1::SetRowTicked(int row, bool ticked) {
  QTreeWidgetItem* item = ListView1->topLevelItem(row);
  if (!item) return;
  settingTick_ = true;
  item->setCheckState(ColNumber, ticked ? Qt::Checked : Qt::Unchecked);
  settingTick_ = false;
  ListView1CustomDrawItem(item);
}

void TForm1::SetRowJunkReason(int row, const std::string& reason) {
  QTreeWidgetItem* item = ListView1->topLevelItem(row);
  if (!item) return;
  ShowItemJunkReason(item, ListView1->toolTip(), reason);
}

std::string TForm1::RowJunkReason(int row) const {
  QTreeWidgetItem* item = ListView1->topLevelItem(row);
  if (!item) return {};
  const QByteArray raw = item->data(ColNumber, kJunkReasonRole).toByteArray();
  return std::string(raw.constData(), static_cast<size_t>(raw.size()));
}

int TForm1::SelectedRow() const {
  const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
  if (selected.isEmpty()) return -1;
  return ListView1->indexOfTopLevelItem(selected.first());
}

// ---- marks and their colours ----

void TForm1::ListView1CustomDrawItem(QTreeWidgetItem* item) {
  if (!item) return;
  const bool ticked = item->checkState(ColNumber) == Qt::Checked;
  if (item->data(ColNumber, kDrawnTickRole).toBool() != ticked) item->setData(ColNumber, kDrawnTickRole, ticked);
  // Unticking, by any hand or handler, ends the reason the row was marked for;
  // a tick ends the note on why it was not.
  if (!ticked) ShowItemJunkReason(item, ListView1->toolTip(), std::string());
  if (ticked && item->data(ColNumber, kLearnedNoteRole).isValid()) {
    item->setData(ColNumber, kLearnedNoteRole, QVariant());
    ShowItemHint(item, ListView1->toolTip());
  }
  for (int column = 0; column < ListView1->columnCount(); ++column) {
    // Setting an equal value emits nothing, so repainting from itemChanged
    // settles after one round.
    if (ticked) {
      if (item->background(column).color() != kMarkedBackground ||
          item->background(column).style() != Qt::SolidPattern) {
        item->setBackground(column, QBrush(kMarkedBackground));
      }
    } else if (item->data(column, Qt::BackgroundRole).isValid()) {
      item->setData(column, Qt::BackgroundRole, QVariant());  // the list's own blue
    }
  }
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

// ---- the header listing ----

void TForm1::btnRetrieveHeaderClick() {
  QuietWhenClosing(*this, [&] {
    if (!CheckConnected()) return;
    if (ExchangeBusy()) return;
    CommandButtonsOff buttons(*this, true);

    ListView1->clear();
    int row = -1;
    ListingSteps steps;
    steps.Listed = [&](const std::vector<std::string>& lines) {
      setWindowTitle(ToQt(Cp("Brevan v3.3 (連線中)(") + std::to_string(lines.size()) + Cp(" 封信) - ") +
                          FromQt(ComboBox1->currentText())));
    };
    steps.MessageStarted = [&](int number) {
      const QSignalBlocker quiet(ListView1);
      row = AppendMessageRow(*this, number);
      SetRowText(row, ColSize, Session.Row(row).Size);
    };
    steps.HeadersTaken = [&](int, const ListedHeaders& headers) { FillMessageRow(*this, row, headers); };
    // Events run (and the list paints) in batches of a few dozen
    // milliseconds of listing, not after every message: painting the visible
    // rows once per message costs far more than the listing itself.
    steps.ProcessEvents = [] { ProcessEvents(); };
    steps.Stop = [this] { return Closing(); };
    Session.List(Program().FilterRuleList, std::move(steps));
  });
}

// ---- preview and download ----

void TForm1::btnFirst100Click() {
  QuietWhenClosing(*this, [&] {
    const int row = SelectedRow();
    if (row < 0) return;
    if (!CheckConnected()) return;
    if (ExchangeBusy()) return;
    const int number = RowNumber(row);
    if (number <= 0) return;
    CommandButtonsOff buttons(*this, false);

    Memo1->clear();
    const PreviewResult preview = Session.Preview(number);
    if (Closing()) return;
    if (preview.End == ExchangeEnd::Refused) {
      Dialogs().ShowMessage(this, SanitizeServerLine(preview.Line));
      return;
    }
    if (preview.End != ExchangeEnd::Done) return;
    // Exactly as the server sent it: no decoding, doubled leading dots kept.
    ShowPreviewText(LinesForDisplay(SplitTextLines(preview.Text)));
  });
}

bool TForm1::ShowPreviewText(const QString& text) {
  // The pane lays out each of its lines whole, and the layout of a line is
  // not interrupted: a 1 MB line froze the window for most of a minute. So
  // no line is longer than kPreviewLineChars, and the lines go in during
  // short slices with the windows serviced between them.
  using Clock = std::chrono::steady_clock;
  constexpr auto kSlice = std::chrono::milliseconds(20);
  const unsigned generation = ++previewGeneration_;
  Memo1->clear();
  QTextCursor cursor(Memo1->document());
  bool firstLine = true;
  bool cursorPlaced = false;
  auto sliceStart = Clock::now();
  cursor.beginEditBlock();
  qsizetype at = 0;
  for (;;) {
    qsizetype end = text.indexOf(QLatin1Char('\n'), at);
    if (end < 0) end = text.size();
    qsizetype piece = at;
    do {
      qsizetype length = std::min<qsizetype>(kPreviewLineChars, end - piece);
      // A surrogate pair stays on one line.
      if (piece + length < end && length > 1 && text.at(piece + length - 1).isHighSurrogate()) --length;
      if (!firstLine) cursor.insertBlock();
      firstLine = false;
      cursor.insertText(text.mid(piece, length));
      piece += length;
      if (Clock::now() - sliceStart >= kSlice) {
        cursor.endEditBlock();
        if (!cursorPlaced) {
          Memo1->moveCursor(QTextCursor::Start);
          cursorPlaced = true;
        }
        ProcessEvents();
        if (Closing() || generation != previewGeneration_) return false;
        sliceStart = Clock::now();
        cursor.beginEditBlock();
      }
    } while (piece < end);
    if (end >= text.size()) break;
    at = end + 1;
  }
  cursor.endEditBlock();
  Memo1->moveCursor(QTextCursor::Start);
  return true;
}

void TForm1::btnDownloadClick() {
  QuietWhenClosing(*this, [&] {
    const int selected = SelectedRow();
    if (selected < 0) return;
    if (!CheckConnected()) return;
    if (ExchangeBusy()) return;
    const SessionRow message = Session.Row(selected);
    if (message.Number <= 0) return;
    CommandButtonsOff buttons(*this, false);

    const std::string subject = TrimBlank(RowUnicodeText(selected, ColSubject));
    const std::string numberText = std::to_string(message.Number);
    Memo1->clear();
    ProgressBar1->setMinimum(0);
    const int maximum = ParseInteger(message.Size);
    ProgressBar1->setMaximum(maximum);

    const std::string folder = DownloadFolder(Program().AppPath, Session.DownloadLabel());
    // Nothing of a download that did not end in its file stays behind: the
    // temporary file goes with the download (destroyed first), and a folder
    // made for it alone goes after it.
    struct FolderCleanup {
      const std::string& folder;
      bool made = false;
      bool placed = false;
      ~FolderCleanup() {
        if (made && !placed) RemoveEmptyFolder(folder);
      }
    } cleanup{folder};
    MessageDownload download(Session.Source());
    RawReplyEvents events;
    events.ProcessEvents = ProcessEvents;
    // The bar moves when its position changes by a thousandth of its range
    // at least, not for every chunk.
    const long long step = std::max<long long>(1, static_cast<long long>(maximum) / 1000);
    events.Received = [this, step](size_t length) {
      // The bar keeps its position within Min..Max: more bytes than the size
      // column promised stop at Max.
      const auto position = std::clamp<long long>(
          static_cast<long long>(std::min<size_t>(length, static_cast<size_t>(INT32_MAX))),
          ProgressBar1->minimum(), ProgressBar1->maximum());
      if (position == ProgressBar1->maximum() || position - ProgressBar1->value() >= step) {
        ProgressBar1->setValue(static_cast<int>(position));
      }
    };
    events.Stop = [this] { return Closing(); };
    const DownloadResult result = Session.Download(message.Number, download, folder, events);
    cleanup.made = result.FolderMade;
    if (Closing()) return;
    if (result.End == ExchangeEnd::Refused) {
      Dialogs().ShowMessage(this, SanitizeServerLine(result.Line));
      return;
    }
    if (result.End != ExchangeEnd::Done) return;
    ProgressBar1->setValue(ProgressBar1->maximum());

    const std::string fallback = MessageFilePathUtf8(folder, numberText);
    if (!download.Sync(ProcessEvents)) throw std::runtime_error("Cannot create file " + ShownPath(fallback));
    // A window that began to close while the file went to the disk leaves
    // nothing behind, as one closed during the read.
    if (Closing()) return;

    // The row and btnRead name the file only once it is in place.
    const std::string name = MessageFileBaseNameUtf8(subject, numberText);
    std::string placedAs = name;
    if (!download.PlaceAs(MessageFilePathUtf8(folder, name))) {
      placedAs = numberText;
      if (!download.PlaceAs(fallback)) throw std::runtime_error("Cannot create file " + ShownPath(fallback));
    }
    cleanup.placed = true;
    SetRowUnicodeText(selected, ColDownloadedFile, placedAs);
    LearnRow(selected, false);
    btnRead->setEnabled(true);
    buttons.KeepEnabled(btnRead);
    Dialogs().ShowMessage(this, Cp("下載完成, 可以看信了 ^_^"));
  });
}

// ---- viewing a downloaded message ----

void TForm1::btnReadClick() {
  const int row = SelectedRow();
  if (row < 0) return;
  const std::string& appPath = Program().AppPath;
  const std::string folder = DownloadFolder(appPath, Session.DownloadLabel());

  const std::string byName = MessageFilePathUtf8(
      folder, MessageFileBaseNameUtf8(RowUnicodeText(row, ColSubject), RowText(row, ColNumber)));
  if (FileExists(byName)) {
    if (!Desktop().OpenDocument(byName, appPath)) Dialogs().ShowUnicodeMessage(this, CannotOpenMessageText(byName));
    else LearnRow(row, false);
    return;
  }
  const std::string downloaded = RowUnicodeText(row, ColDownloadedFile);
  if (!downloaded.empty()) {
    const std::string byColumn = MessageFilePathUtf8(folder, downloaded);
    if (FileExists(byColumn)) {
      if (!Desktop().OpenDocument(byColumn, appPath)) Dialogs().ShowUnicodeMessage(this, CannotOpenMessageText(byColumn));
      else LearnRow(row, false);
      return;
    }
  }
  if (Dialogs().ConfirmYesNo(this, Cp("你還沒下載此封信過, 要現在下載嗎?"))) btnDownloadClick();
}

void TForm1::BitBtn1Click() {
  const int row = SelectedRow();
  if (row < 0) return;
  const std::string& appPath = Program().AppPath;
  const std::string folder = DownloadFolder(appPath, Session.DownloadLabel());
  const std::string path = MessageFilePathUtf8(
      folder, MessageFileBaseNameUtf8(TrimBlank(RowUnicodeText(row, ColSubject)), RowText(row, ColNumber)));
  if (FileExists(path)) {
    if (!Desktop().LaunchTextEditor(path, appPath)) Dialogs().ShowUnicodeMessage(this, CannotEditMessageText(path));
    else LearnRow(row, false);
    return;
  }
  if (Dialogs().ConfirmYesNo(this, Cp("你還沒下載此封信過, 要現在下載嗎?"))) btnDownloadClick();
}

// ---- decoding a selection of the text pane ----

void TForm1::Base641Click() { ShowDecoded(&DecodeBase64Text, Memo1); }

void TForm1::Quoteprintable1Click() { ShowDecoded(&DecodeQuotedPrintableText, Memo1); }

// ---- the filter ----

void TForm1::ReapplyFilter() {
  const std::vector<std::string>& rules = Program().FilterRuleList;
  LearnedStore* store = JudgingStore(*this);
  for (int row = 0; row < ListView1->topLevelItemCount(); ++row) {
    SetRowTicked(row, false);  // clears the row's old reason too
    if (QTreeWidgetItem* item = ListView1->topLevelItem(row)) SetItemBytes(item, kLearnedNoteRole, {});
    const std::string subject = RowUnicodeText(row, ColSubject);
    const JunkVerdict verdict = JudgeSubject(rules, CodePageForms(subject));
    ApplyRowMark(*this, row, MarkListedRow(store, rules, subject, verdict, RowHeaderBlock(row)));
    if (QTreeWidgetItem* item = ListView1->topLevelItem(row)) ShowItemHint(item, ListView1->toolTip());
  }
}

void TForm1::N1Click() {
  // Adding a rule never reports a failure: what was done before it stays done.
  try {
    const int row = SelectedRow();
    if (row < 0) return;
    const std::string subject = RowUnicodeText(row, ColSubject);
    if (subject.empty()) return;
    // The rule file is in the code page: offer only a rule that hits the
    // subject it came from.
    const std::optional<std::string> offered = RuleFromSubject(subject);
    if (!offered) {
      Dialogs().ShowUnicodeMessage(this, "這個標題含有 Big5 無法表示的字元 (轉成繁體字也一樣), 寫成規則後會比對不到它自己, "
                                         "所以沒有加入過濾器:\n" + subject);
      return;
    }

    bool accepted = false;
    std::string rule = Dialogs().InputBox(this, "Subject", "String", *offered, &accepted);
    if (!accepted) rule = *offered;  // Cancel adds the subject as it was
    if (IsBlank(rule)) return;
    rule = OneRuleLine(std::move(rule));

    std::vector<std::string>& rules = Program().FilterRuleList;
    if (std::find(rules.begin(), rules.end(), rule) != rules.end()) return;
    rules.push_back(rule);
    if (!WriteFileAtomic(RuleFilePath(), JoinLinesCrLf(rules))) return;
    ReapplyFilter();
    Dialogs().ShowMessage(this, Cp("重新套用過濾器於信件列表完成"));
  } catch (...) {
  }
}

void TForm1::subjectfiltercfgE1Click() {
  if (Form3) Form3->exec();
  if (Closing()) return;
  // Also after a close without saving: every mark is recomputed.
  ReapplyFilter();
}

// ---- the learned judgement ----

std::string TForm1::RowHeaderBlock(int row) const {
  QTreeWidgetItem* item = ListView1->topLevelItem(row);
  return item ? ItemBytes(item, kHeaderBlockRole) : std::string();
}

void TForm1::LearnRow(int row, bool junk) {
  const std::string block = RowHeaderBlock(row);
  if (block.empty()) return;
  LearnedStore& store = SessionLearnedStore(Program().AppPath);
  const std::string problem = TakeLearnedStoreProblem(store);
  if (!problem.empty()) Dialogs().ShowMessage(this, problem);
  LearnHeaderBlocks(store, {block}, junk);
}

void TForm1::LearnFromHandTick(QTreeWidgetItem* item) {
  if (settingTick_ || !item) return;
  const bool ticked = item->checkState(ColNumber) == Qt::Checked;
  if (item->data(ColNumber, kDrawnTickRole).toBool() == ticked) return;  // another field changed
  const int row = ListView1->indexOfTopLevelItem(item);
  const std::string block = RowHeaderBlock(row);
  if (block.empty()) return;
  if (ticked) {
    LearnRow(row, true);
  } else if (item->data(ColNumber, kJunkReasonRole).isValid()) {
    // The program's mark, taken back by the user: this one is good.
    LearnRow(row, false);
  } else {
    // The user's own tick, taken back: so is its lesson.
    ForgetHeaderBlocks(SessionLearnedStore(Program().AppPath), {block}, true);
  }
}

void TForm1::LearnDeletedRows(const std::vector<int>& numbers) {
  std::vector<std::string> blocks;
  // The numbers are the current connection's: each names the row its
  // listing made.
  const int connection = ConnectionId();
  for (int number : numbers) {
    for (int row = 0; row < static_cast<int>(Session.Rows().size()); ++row) {
      if (RowNumber(row) == number && RowConnection(row) == connection) {
        blocks.push_back(RowHeaderBlock(row));
        break;
      }
    }
  }
  blocks.erase(std::remove(blocks.begin(), blocks.end(), std::string()), blocks.end());
  if (blocks.empty()) return;
  // One transaction for the whole batch.
  LearnHeaderBlocks(SessionLearnedStore(Program().AppPath), blocks, true);
}

void TForm1::N2Click() {
  const int row = SelectedRow();
  if (row >= 0) LearnRow(row, true);
}

void TForm1::N3Click() {
  const int row = SelectedRow();
  if (row >= 0) LearnRow(row, false);
}

}  // namespace brevan
