#include "session/TForm1.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <charconv>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <stdexcept>

#include "accounts/account_store.h"
#include "app/dialogs.h"
#include "app/qt_text.h"
#include "common/app_path.h"
#include "common/codepage.h"
#include "common/file_io.h"
#include "common/split_token.h"
#include "common/text_lines.h"
#include "common/tick.h"
#include "common/trim.h"
#include "session/TIdAntiFreeze.h"
#include "session/outstanding_exchange.h"
#include "session/pipelined_listing.h"
#include "session/program_values.h"

namespace brevan {

// DisconnectDone. Everything runs on one thread, so once the disconnect has
// run to its end before the wait, the wait returns at once; otherwise it
// blocks for its whole bound without servicing the windows.
class AutoResetEvent {
 public:
  void Set() {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = true;
    cv_.notify_one();
  }
  // True when signalled within the bound; a successful wait resets the event.
  bool WaitFor(std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(mutex_);
    bool got = cv_.wait_for(lock, bound, [this] { return signalled_; });
    signalled_ = false;
    return got;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;
};

namespace {

constexpr int kKeepAliveMs = 120000;
constexpr int kPromoMs = 6000;
constexpr std::chrono::milliseconds kCloseWaitBound{10000};
constexpr size_t kMaxShownReply = 512;

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

const std::string& UnconnectedCaption() {
  static const std::string text = Cp("Brevan v3.3 (未連線)");
  return text;
}

// RFC 1939 section 3: a positive status indicator is exactly "+OK".
bool IsPositive(const std::string& reply) { return reply.compare(0, 3, "+OK") == 0; }

// The port field as a number. Only decimal digits count; anything else, and
// an empty text, fails (the click then ends silently).
int PortFromText(const std::string& text) {
  int value = 0;
  const char* first = text.data();
  const char* last = first + text.size();
  auto [end, ec] = std::from_chars(first, last, value);
  if (text.empty() || ec != std::errc() || end != last || text[0] == '-' || text[0] == '+')
    throw std::runtime_error("'" + text + "' is not a valid integer value");
  return value;
}

void SetTextColours(QWidget* widget, const QColor& base, const QColor& text) {
  QPalette palette = widget->palette();
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    palette.setColor(group, QPalette::Base, base);
    palette.setColor(group, QPalette::Text, text);
  }
  widget->setPalette(palette);
}

}  // namespace

const std::string& NotConnectedMessage() {
  static const std::string text =
      Cp("目前沒在連線中, 或者閒置時間過長, 已遭伺服器中斷了, 請重新連線!");
  return text;
}

const std::string& PromoMailServerText() {
  static const std::string text =
      Cp("Lanternpost 郵件伺服器: 小公司也能輕鬆架設的穩定郵件主機, 歡迎免費試用!");
  return text;
}
const std::string& PromoFtpServerText() {
  static const std::string text =
      Cp("Ferrylift FTP 伺服器: 幾分鐘內就能和同事安全地分享檔案, 歡迎免費試用!");
  return text;
}
const std::string& PromoMailServerUrl() {
  static const std::string url = "http://lanternpost.example.com/";
  return url;
}
const std::string& PromoFtpServerUrl() {
  static const std::string url = "http://ferrylift.example.com/";
  return url;
}
const std::string& HomePageUrl() {
  static const std::string url = "http://brevan.example.com/";
  return url;
}

std::string SanitizeServerLine(const std::string& line) {
  std::string out;
  out.reserve(std::min(line.size(), kMaxShownReply));
  for (size_t i = 0; i < line.size();) {
    unsigned char byte = static_cast<unsigned char>(line[i]);
    size_t width = (IsLeadByte(byte) && i + 1 < line.size()) ? 2 : 1;
    if (out.size() + width > kMaxShownReply) {
      out += "...";
      break;
    }
    if (width == 2) {
      out.append(line, i, 2);
    } else if (byte < 0x20 || byte == 0x7F) {
      out += '?';
    } else {
      out += static_cast<char>(byte);
    }
    i += width;
  }
  return out;
}

HandlerScope::~HandlerScope() {
  if (--window_.handlerDepth_ == 0 && window_.destroyRequested_) {
    window_.destroyRequested_ = false;
    window_.RequestDestroy();
  }
}

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
  setObjectName("Form1");
  BuildLayout();
  WireHandlers();
  HandlerScope scope(*this);
  RunHandler(this, [this] { FormCreate(); });
}

TForm1::~TForm1() {
  // The connection is released without a word to the server, and its close
  // must not reach the widgets that are going away.
  IdTCPClient1.OnDisconnected = nullptr;
}

void TForm1::BuildLayout() {
  setWindowTitle(ToQt(UnconnectedCaption()));
  resize(800, 560);

  // Login settings.
  GroupBoxLogin = new QGroupBox(U("登入設定"), this);
  GroupBoxLogin->setObjectName("GroupBoxLogin");
  auto* loginGrid = new QGridLayout(GroupBoxLogin);
  ComboBox1 = new QComboBox(GroupBoxLogin);
  ComboBox1->setObjectName("ComboBox1");
  ComboBox1->setEditable(true);
  ComboBox1->setInsertPolicy(QComboBox::NoInsert);
  ComboBox1->setMinimumWidth(160);
  Edit4 = new QLineEdit(GroupBoxLogin);
  Edit4->setObjectName("Edit4");
  Edit2 = new QLineEdit(GroupBoxLogin);
  Edit2->setObjectName("Edit2");
  Edit2->setEchoMode(QLineEdit::Password);
  Edit2->setMinimumWidth(120);
  Edit4->setMinimumWidth(160);
  Edit3 = new QLineEdit(GroupBoxLogin);
  Edit3->setObjectName("Edit3");
  Edit3->setMaxLength(5);
  Edit3->setText("110");
  Edit3->setToolTip("Input 995 to enable POP3 SSL");
  Edit3->setMaximumWidth(60);

  auto addLabel = [&](const char* caption, const char* name, QWidget* buddy, int row, int column) {
    auto* label = new QLabel(U(caption), GroupBoxLogin);
    label->setObjectName(name);
    label->setBuddy(buddy);
    loginGrid->addWidget(label, row, column);
    loginGrid->addWidget(buddy, row, column + 1);
  };
  addLabel("POP3伺服器:", "Label1", ComboBox1, 0, 0);
  addLabel("帳號:", "Label2", Edit4, 1, 0);
  addLabel("密碼:", "Label3", Edit2, 1, 2);
  addLabel("埠號:", "Label4", Edit3, 0, 2);

  btnConnect = new QPushButton(U("連線"), GroupBoxLogin);
  btnConnect->setObjectName("btnConnect");
  btnDisconnect = new QPushButton(U("中斷連線"), GroupBoxLogin);
  btnDisconnect->setObjectName("btnDisconnect");
  btnDisconnect->setEnabled(false);
  Button1 = new QPushButton(U("儲存"), GroupBoxLogin);
  Button1->setObjectName("Button1");
  Button2 = new QPushButton(U("刪除"), GroupBoxLogin);
  Button2->setObjectName("Button2");
  loginGrid->addWidget(btnConnect, 0, 4);
  loginGrid->addWidget(btnDisconnect, 1, 4);
  loginGrid->addWidget(Button1, 0, 5);
  loginGrid->addWidget(Button2, 1, 5);

  // Commands, with the home link at the left.
  GroupBoxFunctions = new QGroupBox(U("功能"), this);
  GroupBoxFunctions->setObjectName("GroupBoxFunctions");
  auto* functionsGrid = new QGridLayout(GroupBoxFunctions);
  Label5 = new QLabel("HOME", GroupBoxFunctions);
  Label5->setObjectName("Label5");
  QFont bold = Label5->font();
  bold.setBold(true);
  Label5->setFont(bold);
  QPalette labelPalette = Label5->palette();
  labelPalette.setColor(QPalette::WindowText, QColor(0x80, 0x00, 0x00));
  Label5->setPalette(labelPalette);
  Label5->setCursor(Qt::PointingHandCursor);
  functionsGrid->addWidget(Label5, 0, 0, 2, 1);

  auto makeButton = [&](QPushButton*& button, const char* caption, const char* name, int row, int column) {
    button = new QPushButton(U(caption), GroupBoxFunctions);
    button->setObjectName(name);
    functionsGrid->addWidget(button, row, column);
  };
  makeButton(btnRetrieveHeader, "重新整理", "btnRetrieveHeader", 0, 1);
  makeButton(btnFirst100, "前100行", "btnFirst100", 0, 2);
  makeButton(btnDownload, "下載成檔案", "btnDownload", 0, 3);
  makeButton(btnRead, "看信(Outlook Express)", "btnRead", 0, 4);
  makeButton(BitBtn1, "看信(純文字檢視)", "BitBtn1", 1, 1);
  makeButton(btnMarkDelete, "標記刪除", "btnMarkDelete", 1, 2);
  makeButton(btnDeleteAll, "全部標記刪除", "btnDeleteAll", 1, 3);
  makeButton(btnCancelAll, "取消全部標記", "btnCancelAll", 1, 4);

  // The message list and the text pane below it.
  GroupBox1 = new QGroupBox(this);
  GroupBox1->setObjectName("GroupBox1");
  GroupBox1->setAutoFillBackground(true);
  {
    QPalette boxPalette = GroupBox1->palette();
    boxPalette.setColor(QPalette::Window, boxPalette.color(QPalette::Button));
    GroupBox1->setPalette(boxPalette);
  }
  auto* listBox = new QVBoxLayout(GroupBox1);
  listBox->setContentsMargins(2, 2, 2, 2);
  Splitter1 = new QSplitter(Qt::Vertical, GroupBox1);
  Splitter1->setObjectName("Splitter1");
  listBox->addWidget(Splitter1);

  ListView1 = new QTreeWidget(Splitter1);
  ListView1->setObjectName("ListView1");
  ListView1->setColumnCount(6);
  ListView1->setHeaderLabels({U("編號"), U("寄信人"), U("郵件標題"), U("大小(單位:byte)"), U("日期"),
                              U("下載後的檔案")});
  ListView1->setColumnWidth(ColSender, 150);
  ListView1->setColumnWidth(ColSubject, 200);
  ListView1->setColumnWidth(ColSize, 100);
  ListView1->setColumnWidth(ColDate, 150);
  ListView1->setColumnWidth(ColDownloadedFile, 150);
  ListView1->setRootIsDecorated(false);
  ListView1->setItemsExpandable(false);
  ListView1->setUniformRowHeights(true);
  ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
  ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListView1->setSortingEnabled(false);
  ListView1->header()->setSectionsClickable(false);
  ListView1->setToolTip(U("按滑鼠右鍵可以將標題加入過濾器 (subjectfilter.cfg)"));
  ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
  SetTextColours(ListView1, Qt::blue, Qt::white);

  Memo1 = new QPlainTextEdit(Splitter1);
  Memo1->setObjectName("Memo1");
  Memo1->setReadOnly(true);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setToolTip(U("滑鼠右鍵可以進行選取內容 BASE64, QUOTED-PRINTABLE 解碼"));
  Memo1->setContextMenuPolicy(Qt::CustomContextMenu);
  SetTextColours(Memo1, Qt::blue, Qt::white);
  {
    // The selection stays visible when the pane loses the focus.
    QPalette memoPalette = Memo1->palette();
    memoPalette.setColor(QPalette::Inactive, QPalette::Highlight,
                         memoPalette.color(QPalette::Active, QPalette::Highlight));
    memoPalette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                         memoPalette.color(QPalette::Active, QPalette::HighlightedText));
    Memo1->setPalette(memoPalette);
  }
  Splitter1->setStretchFactor(0, 3);
  Splitter1->setStretchFactor(1, 2);

  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar1->setTextVisible(true);
  {
    QPalette barPalette = ProgressBar1->palette();
    barPalette.setColor(QPalette::Text, Qt::red);
    barPalette.setColor(QPalette::HighlightedText, Qt::red);
    ProgressBar1->setPalette(barPalette);
  }

  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName("StatusBar1");
  StatusBar1->setSizeGripEnabled(false);
  StatusBar1->setCursor(Qt::PointingHandCursor);
  StatusBar1->showMessage(ToQt(PromoMailServerText()));

  // Menus.
  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName("PopupMenu1");
  Base641 = PopupMenu1->addAction(U("Base64 解碼"));
  Base641->setObjectName("Base641");
  Quoteprintable1 = PopupMenu1->addAction(U("Quoted-Printable 解碼"));
  Quoteprintable1->setObjectName("Quoteprintable1");
  PopupMenu2 = new QMenu(this);
  PopupMenu2->setObjectName("PopupMenu2");
  N1 = PopupMenu2->addAction(U("把標題加入過濾器(&A)"));
  N1->setObjectName("N1");
  subjectfiltercfgE1 = PopupMenu2->addAction(U("編輯 subjectfilter.cfg (&E)"));
  subjectfiltercfgE1->setObjectName("subjectfiltercfgE1");

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(kKeepAliveMs);
  Timer2 = new QTimer(this);
  Timer2->setObjectName("Timer2");
  Timer2->setInterval(kPromoMs);

  IdAntiFreeze1 = new TIdAntiFreeze(this);
  IdAntiFreeze1->setObjectName("IdAntiFreeze1");

  auto* top = new QHBoxLayout;
  top->addWidget(GroupBoxLogin);
  top->addWidget(GroupBoxFunctions, 1);
  auto* main = new QVBoxLayout(this);
  main->setContentsMargins(0, 0, 0, 0);
  main->setSpacing(2);
  main->addLayout(top);
  main->addWidget(GroupBox1, 1);
  main->addWidget(ProgressBar1);
  main->addWidget(StatusBar1);
}

void TForm1::WireHandlers() {
  // Every handler runs counted (so a close cannot destroy the window under
  // it) and wrapped (so nothing it throws reaches the event loop).
  auto handler = [this](void (TForm1::*method)()) {
    return [this, method] {
      HandlerScope scope(*this);
      RunHandler(this, [this, method] { (this->*method)(); });
    };
  };
  connect(btnConnect, &QPushButton::clicked, this, handler(&TForm1::btnConnectClick));
  connect(btnDisconnect, &QPushButton::clicked, this, handler(&TForm1::btnDisconnectClick));
  connect(Button1, &QPushButton::clicked, this, handler(&TForm1::Button1Click));
  connect(Button2, &QPushButton::clicked, this, handler(&TForm1::Button2Click));
  connect(ComboBox1, &QComboBox::activated, this, handler(&TForm1::ComboBox1Click));

  connect(btnRetrieveHeader, &QPushButton::clicked, this, handler(&TForm1::btnRetrieveHeaderClick));
  connect(btnFirst100, &QPushButton::clicked, this, handler(&TForm1::btnFirst100Click));
  connect(btnDownload, &QPushButton::clicked, this, handler(&TForm1::btnDownloadClick));
  connect(btnRead, &QPushButton::clicked, this, handler(&TForm1::btnReadClick));
  connect(BitBtn1, &QPushButton::clicked, this, handler(&TForm1::BitBtn1Click));
  connect(btnMarkDelete, &QPushButton::clicked, this, handler(&TForm1::btnMarkDeleteClick));
  connect(btnDeleteAll, &QPushButton::clicked, this, handler(&TForm1::btnDeleteAllClick));
  connect(btnCancelAll, &QPushButton::clicked, this, handler(&TForm1::btnCancelAllClick));

  connect(ListView1, &QTreeWidget::itemClicked, this, handler(&TForm1::ListView1Click));
  // A row's background follows its mark: the row is repainted with the colour
  // chosen for it whenever one of its fields or its check box changes.
  connect(ListView1, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int) {
    HandlerScope scope(*this);
    RunHandler(this, [this, item] { ListView1CustomDrawItem(item); });
  });
  connect(ListView1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { PopupMenu2->popup(ListView1->viewport()->mapToGlobal(pos)); });
  connect(Memo1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { PopupMenu1->popup(Memo1->mapToGlobal(pos)); });
  connect(Base641, &QAction::triggered, this, handler(&TForm1::Base641Click));
  connect(Quoteprintable1, &QAction::triggered, this, handler(&TForm1::Quoteprintable1Click));
  connect(N1, &QAction::triggered, this, handler(&TForm1::N1Click));
  connect(subjectfiltercfgE1, &QAction::triggered, this, handler(&TForm1::subjectfiltercfgE1Click));

  connect(Timer1, &QTimer::timeout, this, handler(&TForm1::Timer1Timer));
  connect(Timer2, &QTimer::timeout, this, handler(&TForm1::Timer2Timer));
  Timer2->start();

  // Clicks on the status line and on "HOME", and the port field's key filter.
  StatusBar1->installEventFilter(this);
  Label5->installEventFilter(this);
  Edit3->installEventFilter(this);

  IdTCPClient1.OnDisconnected = [this] { IdTCPClient1Disconnected(); };
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Edit3 && event->type() == QEvent::KeyPress)
    return Edit3KeyPress(static_cast<QKeyEvent*>(event));
  if (event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    if (watched == StatusBar1) {
      HandlerScope scope(*this);
      RunHandler(this, [this] { StatusBar1Click(); });
      return true;
    }
    if (watched == Label5) {
      HandlerScope scope(*this);
      RunHandler(this, [this] { Label5Click(); });
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

bool TForm1::Edit3KeyPress(QKeyEvent* event) {
  const QString text = event->text();
  if (text.isEmpty()) return false;  // navigation and other keys without a character
  for (QChar c : text) {
    if (!((c >= QChar('0') && c <= QChar('9')) || c == QChar('\b'))) return true;
  }
  return false;
}

// ---- account store ----

void TForm1::FormCreate() {
  ProgramValues& program = Program();
  program.AccountList.clear();
  if (!program.FilterRuleListCreated) {
    program.FilterRuleList.clear();
    program.FilterRuleListCreated = true;
  }
  program.AppPath = ExecutableFolder();
  const std::string path = program.AppPath + kAccountFileName;
  if (FileExists(path) && !LoadAccountFile(path, program.AccountList))
    throw std::runtime_error("Cannot open file \"" + path + "\"");
  ComboBox1->clear();
  ComboBox1->clearEditText();
  for (const std::string& line : program.AccountList) ComboBox1->addItem(ToQt(AccountServerField(line)));
  // Adding the first entry makes it current; the server field starts empty.
  ComboBox1->setCurrentIndex(-1);
  ComboBox1->clearEditText();
  program.PromoState = 1;
}

void TForm1::ComboBox1Click() {
  const std::string server = FromQt(ComboBox1->currentText());
  const std::vector<std::string>& lines = Program().AccountList;
  int index = FindAccountLine(lines, server);
  if (index < 0) return;
  AccountFields fields = ParseAccountLine(lines[static_cast<size_t>(index)]);
  ComboBox1->setEditText(ToQt(fields.server));
  Edit3->setText(ToQt(fields.port));
  Edit4->setText(ToQt(fields.user));
  Edit2->setText(ToQt(fields.password));
}

void TForm1::Button1Click() {
  const std::string server = FromQt(ComboBox1->currentText());
  if (IsBlank(server)) return;
  const std::string line =
      BuildAccountLine(server, FromQt(Edit3->text()), FromQt(Edit4->text()), FromQt(Edit2->text()));
  std::vector<std::string>& lines = Program().AccountList;
  if (!ReplaceAccountLines(lines, server, line)) {
    lines.push_back(line);
    const QString typed = ComboBox1->currentText();
    ComboBox1->addItem(ToQt(server));
    ComboBox1->setEditText(typed);
  }
  SaveAccounts();
  Dialogs().ShowMessage(this, server + Cp(" 新增完成"));
}

void TForm1::Button2Click() {
  const std::string server = FromQt(ComboBox1->currentText());
  if (IsBlank(server)) return;
  RemoveAccountLine(Program().AccountList, server);
  // The first entry holding the text goes, as the first line holding the key
  // went from the file.
  for (int i = 0; i < ComboBox1->count(); ++i) {
    if (FindCharAware(FromQt(ComboBox1->itemText(i)), server) != std::string::npos) {
      ComboBox1->removeItem(i);
      break;
    }
  }
  Edit2->clear();
  Edit4->clear();
  ComboBox1->setCurrentIndex(-1);
  ComboBox1->clearEditText();
  SaveAccounts();
  Dialogs().ShowMessage(this, server + Cp(" 刪除完成"));
}

void TForm1::SaveAccounts() {
  const std::string path = Program().AppPath + kAccountFileName;
  if (!SaveAccountFile(path, Program().AccountList))
    throw std::runtime_error("Cannot create file \"" + path + "\"");
}

// ---- status line ----

void TForm1::Timer2Timer() {
  ProgramValues& program = Program();
  if (program.PromoState == 1) {
    program.PromoState = 2;
    StatusBar1->showMessage(ToQt(PromoMailServerText()));
  } else {
    program.PromoState = 1;
    StatusBar1->showMessage(ToQt(PromoFtpServerText()));
  }
}

void TForm1::StatusBar1Click() {
  // The address follows the shared state, not the text this window shows:
  // state 1 is the FTP server's, also while a young window still shows its
  // design text.
  const std::string& url = Program().PromoState == 1 ? PromoFtpServerUrl() : PromoMailServerUrl();
  Desktop().OpenUrl(url, Program().AppPath);
}

void TForm1::Label5Click() { Desktop().OpenUrl(HomePageUrl(), Program().AppPath); }

// ---- connection lifecycle ----

bool TForm1::IsConnected() const { return btnDisconnect->isEnabled(); }

bool TForm1::CheckConnected() {
  if (IsConnected()) return true;
  Dialogs().ShowMessage(this, NotConnectedMessage());
  return false;
}

void TForm1::ShowSanitizedReply(const std::string& reply) {
  Dialogs().ShowMessage(this, SanitizeServerLine(reply));
}

void TForm1::btnConnectClick() {
  if (IsBlank(FromQt(ComboBox1->currentText()))) return;
  bool loggedIn = false;
  try {
    if (IdTCPClient1.IsOpen()) {
      try {
        IdTCPClient1.Close();
      } catch (...) {
      }
    }
    serverPipelines_ = false;
    const std::string portText = FromQt(Edit3->text());
    const int port = PortFromText(portText);
    ProgramValues& program = Program();
    program.LastUserName = FromQt(Edit4->text());
    program.LastServerName = FromQt(ComboBox1->currentText());
    IdTCPClient1.Host = program.LastServerName;
    IdTCPClient1.Port = port;
    const bool tls = portText == "995";
    IdTCPClient1.UseTls = tls;

    auto tryOpen = [this] {
      try {
        IdTCPClient1.Open();
        return true;
      } catch (const std::exception&) {
        return false;
      }
    };
    if (!tryOpen()) {
      bool opened = false;
      if (tls) {
        // A failed handshake may leave its socket behind; start clean once.
        try {
          IdTCPClient1.Close();
        } catch (...) {
        }
        opened = tryOpen();
      }
      if (!opened) {
        Dialogs().ShowMessage(this, Cp("連結伺服器失敗"));
        return;
      }
    }

    program.LastActivityTick = TickCount();
    Timer1->start();
    btnDisconnect->setEnabled(true);
    program.SessionLabel = FromQt(Edit4->text()) + "(" + FromQt(ComboBox1->currentText()) + ")";
    btnConnect->setEnabled(false);

    ExchangeGuard exchange(*this);
    // The greeting may come in several lines; the ones that follow within a
    // second of each other all belong to it and are read before USER goes out.
    IdTCPClient1.ReadLine(InfiniteWait);
    if (closing_) return;
    for (;;) {
      if (IdTCPClient1.BufferedByteCount() == 0) {
        try {
          IdTCPClient1.WaitForData(1000);
        } catch (...) {
        }
        if (closing_) return;
        if (IdTCPClient1.BufferedByteCount() == 0) break;
      }
      IdTCPClient1.ReadLine(InfiniteWait);
      if (closing_) return;
    }

    IdTCPClient1.SendCommand("user " + program.LastUserName);
    if (closing_) return;
    if (!IsPositive(IdTCPClient1.LastReply())) {
      ShowSanitizedReply(IdTCPClient1.LastReply());
      IdTCPClient1.Close();
      return;
    }
    IdTCPClient1.SendCommand("pass " + FromQt(Edit2->text()));
    if (closing_) return;
    if (!IsPositive(IdTCPClient1.LastReply())) {
      ShowSanitizedReply(IdTCPClient1.LastReply());
      IdTCPClient1.Close();
      return;
    }

    // RFC 2449: asked once per connection; only a server that declares
    // PIPELINING gets the listing's commands ahead of their replies.
    serverPipelines_ = AskPipelining(IdTCPClient1);
    if (closing_) return;

    program.FilterRuleList.clear();
    const std::string rulePath = program.AppPath + "subjectfilter.cfg";
    if (FileExists(rulePath)) {
      std::string contents;
      if (!ReadWholeFile(rulePath, contents)) throw std::runtime_error("Cannot open file \"" + rulePath + "\"");
      program.FilterRuleList = SplitTextLinesToNul(contents);
    }
    loggedIn = true;
  } catch (...) {
    // The connection failed or went away during the login; a close has
    // already restored the window, and the click ends without a word.
  }
  // The listing that follows the login belongs to this click: a failure in
  // it (the server hanging up, say) ends the click as quietly as one in the
  // login. Only a listing the user starts with its button reports failures.
  if (loggedIn && !closing_) {
    try {
      btnRetrieveHeaderClick();
    } catch (...) {
    }
  }
}

void TForm1::IdTCPClient1Disconnected() {
  setWindowTitle(ToQt(UnconnectedCaption()));
  btnDisconnect->setEnabled(false);
  btnConnect->setEnabled(true);
  Timer1->stop();
}

void TForm1::Timer1Timer() {
  // Another exchange is waiting for its reply: a NOOP now would take that
  // reply for its own. The waiting exchange is activity enough.
  if (ExchangeBusy()) return;
  // The tick wraps after 49.7 days; the difference of two unsigned 32-bit
  // ticks is the elapsed time across the wrap as well.
  const uint32_t idle = TickCount() - Program().LastActivityTick;
  if (idle > static_cast<uint32_t>(kKeepAliveMs) && IdTCPClient1.IsOpen()) {
    ExchangeGuard exchange(*this);
    IdTCPClient1.SendCommand("noop");
  }
}

void TForm1::btnDisconnectClick() {
  // The marks are read once, after the question, so what goes out is what the
  // user agreed to even if the list changes while the server answers.
  std::vector<int> ticked;
  for (int row = ListView1->topLevelItemCount() - 1; row >= 0; --row) {
    if (ListView1->topLevelItem(row)->checkState(ColNumber) == Qt::Checked) ticked.push_back(row + 1);
  }
  if (!ticked.empty() && !Dialogs().ConfirmYesCancel(this, Cp("您確定要將標記的信刪除嗎?"))) return;
  if (!ticked.empty()) {
    ticked.clear();
    for (int row = ListView1->topLevelItemCount() - 1; row >= 0; --row) {
      if (ListView1->topLevelItem(row)->checkState(ColNumber) == Qt::Checked) ticked.push_back(row + 1);
    }
  }

  Program().LastActivityTick = TickCount();
  Timer1->stop();
  std::exception_ptr failure;
  try {
    ExchangeGuard exchange(*this);
    // Replies still owed to a running exchange must be read first, or a
    // DELE reply would be taken for one of them. When they cannot be, the
    // connection is closed without a word more.
    bool clear = true;
    if (OutstandingExchange* owed = Outstanding())
      clear = owed->Finish(std::chrono::steady_clock::now() + std::chrono::seconds(30));
    if (clear) {
      for (int number : ticked) IdTCPClient1.SendCommand("dele " + std::to_string(number));
      IdTCPClient1.WriteLine("quit");
    }
  } catch (...) {
    failure = std::current_exception();
  }
  try {
    IdTCPClient1.Close();
  } catch (...) {
  }
  btnConnect->setEnabled(true);
  btnDisconnect->setEnabled(false);
  if (disconnectDone_) disconnectDone_->Set();
  if (failure) std::rethrow_exception(failure);
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (closing_) {
    // A second close while the first one still runs.
    event->accept();
    return;
  }
  closing_ = true;
  if (btnDisconnect->isEnabled()) {
    disconnectDone_ = std::make_shared<AutoResetEvent>();
    {
      HandlerScope scope(*this);
      RunHandler(this, [this] { btnDisconnectClick(); });
    }
    disconnectDone_->WaitFor(kCloseWaitBound);
  }
  // No tick may reach a window on its way out, even while its destruction
  // waits for a running handler to return.
  Timer1->stop();
  Timer2->stop();
  event->accept();
  RequestDestroy();
}

void TForm1::RequestDestroy() {
  if (handlerDepth_ > 0) {
    destroyRequested_ = true;
    return;
  }
  QWidget* target = this;
  if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget())) target = sub;
  target->hide();
  target->deleteLater();
}

}  // namespace brevan
