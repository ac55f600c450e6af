#include "session/TForm1.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
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
#include <QProxyStyle>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <exception>
#include <functional>
#include <stdexcept>

#include "accounts/account_store.h"
#include "accounts/cert_store.h"
#include "accounts/keyring.h"
#include "app/dialogs.h"
#include "app/qt_text.h"
#include "common/app_path.h"
#include "common/codepage.h"
#include "common/file_io.h"
#include "common/file_lock.h"
#include "common/split_token.h"
#include "common/text_lines.h"
#include "common/tick.h"
#include "common/trim.h"
#include "keep/copy_then_delete.h"
#include "keep/keep_setting.h"
#include "session/TIdAntiFreeze.h"
#include "session/WrappingRow.h"
#include "session/outstanding_exchange.h"
#include "session/pipelined_listing.h"
#include "session/pop3_exchanges.h"
#include "session/program_values.h"
#include "session/reply_drain.h"
#include "session/stls_negotiation.h"

namespace brevan {

namespace {

constexpr int kKeepAliveMs = 120000;
constexpr int kPromoMs = 6000;

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

const std::string& UnconnectedCaption() {
  static const std::string text = Cp("Brevan v3.3 (未連線)");
  return text;
}

const std::string& StlsFailedMessage() {
  static const std::string text = Cp(
      "伺服器表示支援加密連線 (STLS), 但加密連線沒有建立成功. 為了保護您的密碼, 帳號密碼沒有送出, 連線已經中斷.");
  return text;
}

std::string TlsDroppedQuestion(const std::string& server, int port) {
  return Cp("伺服器 ") + server + ":" + std::to_string(port) +
         Cp(" 先前以加密連線 (TLS) 連線過, 這次卻沒有提供加密連線.\n\n"
            "可能有人正在攔截這個連線, 想取得您的帳號密碼.\n"
            "要以未加密的方式送出帳號密碼嗎? (選「否」會中斷連線, 不會送出帳號密碼)");
}

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

// Saving and deleting change the account file as it is now, not this
// program's memory of it: another running copy may have saved an account
// since. The shared list and this window's server list then show the file's
// accounts; the server field keeps what was typed in it.
void ChangeAccountFile(QComboBox& serverList, const std::function<void(std::vector<std::string>&)>& change) {
  const std::string path = Program().AppPath + kAccountFileName;
  const AccountFileUpdate result = UpdateAccountFile(path, change, Program().AccountList);
  if (result == AccountFileUpdate::CannotRead) throw std::runtime_error("Cannot open file \"" + ShownPath(path) + "\"");
  const QString typed = serverList.currentText();
  serverList.clear();
  for (const std::string& line : Program().AccountList) serverList.addItem(ToQt(AccountServerField(line)));
  serverList.setCurrentIndex(-1);
  serverList.setEditText(typed);
  if (result == AccountFileUpdate::CannotWrite) throw std::runtime_error("Cannot create file \"" + ShownPath(path) + "\"");
}

// One keyring call at a time in the whole program: its wait keeps the
// windows serviced, and a save, pick or delete clicked meanwhile would start
// another one (it does nothing instead).
bool g_keyringBusy = false;

struct KeyringCall {
  KeyringCall() { g_keyringBusy = true; }
  ~KeyringCall() { g_keyringBusy = false; }
  KeyringCall(const KeyringCall&) = delete;
  KeyringCall& operator=(const KeyringCall&) = delete;
};

KeyringWait WindowKeyringWait() {
  return KeyringWait{KeyringBound(), [] { QCoreApplication::processEvents(QEventLoop::AllEvents); }};
}

// The password field shows "*" for every character whatever the style's
// own mask character is (many draw a bullet).
class AsteriskPasswordStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == QStyle::SH_LineEdit_PasswordCharacter) return '*';
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

}  // namespace

const std::string& NotConnectedMessage() {
  static const std::string text =
      Cp("目前沒在連線中, 或者閒置時間過長, 已遭伺服器中斷了, 請重新連線!");
  return text;
}

const std::string& UnconfirmedDeletionMessage() {
  static const std::string text =
      Cp("伺服器沒有回應, 連線已經中斷. 標記刪除的信件中, 伺服器還沒確認刪除的可能沒有被刪除!");
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
  static const std::string url = "https://brevan.example.com/";
  return url;
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
  SessionHooks hooks;
  hooks.ProcessEvents = [] { QCoreApplication::processEvents(); };
  hooks.WindowClosing = [this] { return closing_; };
  hooks.StateChanged = [this] { ShowSessionState(); };
  hooks.TrustCertificate = [this] { return TrustServerCertificate(); };
  hooks.ConfirmWithoutTls = [this] {
    return Dialogs().ConfirmYesNoDefaultNo(this, TlsDroppedQuestion(IdTCPClient1.Host, IdTCPClient1.Port));
  };
  Session.SetHooks(std::move(hooks));
  HandlerScope scope(*this);
  RunHandler(this, [this] { FormCreate(); });
}

TForm1::~TForm1() {
  // The connection is released without a word to the server (the session
  // goes with the window), and its close must not reach the widgets that are
  // going away.
  Session.SetHooks({});
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
  auto* passwordStyle = new AsteriskPasswordStyle;
  passwordStyle->setParent(Edit2);
  Edit2->setStyle(passwordStyle);
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
  // A read-only pane needs no undo history (a preview would fill it), and
  // text that needs no shaping is laid out without it, which keeps long
  // previews quick.
  Memo1->setUndoRedoEnabled(false);
  {
    QFont font = Memo1->font();
    font.setStyleStrategy(QFont::PreferNoShaping);
    Memo1->setFont(font);
  }
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
  PopupMenu2->addSeparator();
  N2 = PopupMenu2->addAction(U("這是垃圾信"));
  N2->setObjectName("N2");
  N3 = PopupMenu2->addAction(U("這不是垃圾信"));
  N3->setObjectName("N3");

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(kKeepAliveMs);
  Timer2 = new QTimer(this);
  Timer2->setObjectName("Timer2");
  Timer2->setInterval(kPromoMs);

  IdAntiFreeze1 = new TIdAntiFreeze(this);
  IdAntiFreeze1->setObjectName("IdAntiFreeze1");

  // The two control groups wrap, one under the other, when the window is too
  // narrow for both side by side; the window never gets narrower than the
  // wider group nor shorter than the stacked groups over a small list, and
  // the frame scrolls to what does not fit.
  auto* top = new WrappingRow;
  top->setObjectName("TopRow");
  top->setSpacing(2);
  top->addWidget(GroupBoxLogin);
  top->addWidget(GroupBoxFunctions);
  auto* main = new QVBoxLayout(this);
  main->setSizeConstraint(QLayout::SetMinimumSize);
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

  // A row's background follows its mark: the row is repainted with the colour
  // chosen for it whenever one of its fields or its check box changes.
  connect(ListView1, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int) {
    HandlerScope scope(*this);
    RunHandler(this, [this, item] {
      LearnFromHandTick(item);
      ListView1CustomDrawItem(item);
    });
  });
  connect(ListView1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { PopupMenu2->popup(ListView1->viewport()->mapToGlobal(pos)); });
  connect(Memo1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { PopupMenu1->popup(Memo1->mapToGlobal(pos)); });
  connect(Base641, &QAction::triggered, this, handler(&TForm1::Base641Click));
  connect(Quoteprintable1, &QAction::triggered, this, handler(&TForm1::Quoteprintable1Click));
  connect(N1, &QAction::triggered, this, handler(&TForm1::N1Click));
  connect(subjectfiltercfgE1, &QAction::triggered, this, handler(&TForm1::subjectfiltercfgE1Click));
  connect(N2, &QAction::triggered, this, handler(&TForm1::N2Click));
  connect(N3, &QAction::triggered, this, handler(&TForm1::N3Click));

  connect(Timer1, &QTimer::timeout, this, handler(&TForm1::Timer1Timer));
  connect(Timer2, &QTimer::timeout, this, handler(&TForm1::Timer2Timer));
  Timer2->start();

  // Clicks on the status line and on "HOME", and the port field's key filter.
  StatusBar1->installEventFilter(this);
  Label5->installEventFilter(this);
  Edit3->installEventFilter(this);
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
  // Only typed characters are filtered. Editing and navigation keys (Tab,
  // Delete, backspace, Enter, Escape) come with a control character as their
  // text, shortcuts with Ctrl, Alt or Meta: they all do what they do in any
  // field.
  if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
  for (QChar c : event->text()) {
    if (c.isPrint() && !(c >= QChar('0') && c <= QChar('9'))) return true;
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
  program.AppPath = AppFolder();
  const std::string path = program.AppPath + kAccountFileName;
  if (FileExists(path) && !LoadAccountFile(path, program.AccountList))
    throw std::runtime_error("Cannot open file \"" + ShownPath(path) + "\"");
  ComboBox1->clear();
  ComboBox1->clearEditText();
  for (const std::string& line : program.AccountList) ComboBox1->addItem(ToQt(AccountServerField(line)));
  // Adding the first entry makes it current; the server field starts empty.
  ComboBox1->setCurrentIndex(-1);
  ComboBox1->clearEditText();
  program.PromoState = 1;
}

void TForm1::ComboBox1Click() {
  if (g_keyringBusy) return;
  const std::string server = FromQt(ComboBox1->currentText());
  const std::vector<std::string>& lines = Program().AccountList;
  int index = FindAccountLine(lines, server);
  if (index < 0) return;
  AccountFields fields = ParseAccountLine(lines[static_cast<size_t>(index)]);
  ComboBox1->setEditText(ToQt(fields.server));
  Edit3->setText(ToQt(fields.port));
  Edit4->setText(ToQt(fields.user));
  if (!fields.passwordField.empty()) {
    // A line saved without a keyring: its own Base64 password.
    Edit2->setText(ToQt(fields.password));
    return;
  }
  Edit2->clear();
  std::string password;
  {
    KeyringCall busy;
    LookupKeyringPassword({fields.server, fields.port, fields.user}, &password, WindowKeyringWait());
  }
  if (closing_) return;
  Edit2->setText(ToQt(password));
}

void TForm1::Button1Click() {
  const std::string server = FromQt(ComboBox1->currentText());
  if (IsBlank(server) || g_keyringBusy) return;
  const std::string port = FromQt(Edit3->text());
  const std::string user = FromQt(Edit4->text());
  const std::string password = FromQt(Edit2->text());
  // The keyring keeps the password where it takes it, and the line then has
  // an empty password field; without one, the line keeps the Base64. A blank
  // password removes an item saved before.
  KeyringResult kept;
  {
    KeyringCall busy;
    kept = password.empty() ? DeleteKeyringPassword({server, port, user}, WindowKeyringWait())
                            : StoreKeyringPassword({server, port, user}, password, WindowKeyringWait());
  }
  const std::string line = BuildAccountLine(server, port, user, kept == KeyringResult::Done ? "" : password);
  std::vector<std::string> replaced;
  ChangeAccountFile(*ComboBox1, [&](std::vector<std::string>& lines) {
    replaced.clear();
    for (const std::string& old : lines)
      if (AccountLineMatches(old, server)) replaced.push_back(old);
    if (!ReplaceAccountLines(lines, server, line)) lines.push_back(line);
  });
  // Items of the lines just overwritten under another port or user would
  // otherwise stay in the keyring with nothing pointing at them.
  for (const std::string& old : replaced) {
    const AccountFields fields = ParseAccountLine(old);
    if (fields.server == server && fields.port == port && fields.user == user) continue;
    if (!fields.passwordField.empty()) continue;
    KeyringCall busy;
    DeleteKeyringPassword({fields.server, fields.port, fields.user}, WindowKeyringWait());
  }
  if (closing_) return;
  Dialogs().ShowMessage(this, server + Cp(" 新增完成"));
}

void TForm1::Button2Click() {
  const std::string server = FromQt(ComboBox1->currentText());
  if (IsBlank(server) || g_keyringBusy) return;
  std::string removed;
  ChangeAccountFile(*ComboBox1, [&](std::vector<std::string>& lines) {
    const int index = FindAccountLine(lines, server);
    removed = index < 0 ? std::string() : lines[static_cast<size_t>(index)];
    RemoveAccountLine(lines, server);
  });
  Edit2->clear();
  Edit4->clear();
  ComboBox1->setCurrentIndex(-1);
  ComboBox1->clearEditText();
  if (!removed.empty()) {
    // Also when the line held a Base64 password: a save that found the
    // keyring too slow may have left an item behind all the same.
    const AccountFields fields = ParseAccountLine(removed);
    KeyringCall busy;
    DeleteKeyringPassword({fields.server, fields.port, fields.user}, WindowKeyringWait());
  }
  if (closing_) return;
  Dialogs().ShowMessage(this, server + Cp(" 刪除完成"));
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

bool TForm1::CheckConnected() {
  if (IsConnected()) return true;
  Dialogs().ShowMessage(this, NotConnectedMessage());
  return false;
}

void TForm1::ShowSanitizedReply(const std::string& reply) {
  Dialogs().ShowMessage(this, SanitizeServerLine(reply));
}

void TForm1::ShowSessionState() {
  const SessionState state = Session.State();
  if (state == SessionState::Disconnected) {
    IdTCPClient1Disconnected();
    return;
  }
  // While the connection is being made the connect button stays as it was:
  // a second click does nothing.
  btnConnect->setEnabled(state == SessionState::Connecting);
  btnDisconnect->setEnabled(state != SessionState::Connecting);
  if (state == SessionState::Authorizing && !Timer1->isActive()) Timer1->start();
  if (state == SessionState::Closing) Timer1->stop();
}

void TForm1::btnConnectClick() {
  if (IsBlank(FromQt(ComboBox1->currentText()))) return;
  if (Session.State() == SessionState::Connecting) return;
  LoginRequest request;
  request.Server = FromQt(ComboBox1->currentText());
  const std::string portText = FromQt(Edit3->text());
  try {
    request.Port = PortFromText(portText);
  } catch (...) {
    return;  // not a port: the click ends silently
  }
  request.Tls = portText == "995";
  request.User = FromQt(Edit4->text());
  request.Password = FromQt(Edit2->text());
  request.CertsPath = Program().AppPath + kCertFileName;

  const LoginResult result = Session.LogIn(request);
  switch (result.End) {
    case LoginEnd::OpenFailed:
      if (!closing_) Dialogs().ShowMessage(this, Cp("連結伺服器失敗"));
      return;
    case LoginEnd::Refused:
      if (!closing_) ShowSanitizedReply(result.Line);
      return;
    case LoginEnd::StlsFailed:
      if (!closing_) Dialogs().ShowMessage(this, StlsFailedMessage());
      return;
    case LoginEnd::Ignored:
    case LoginEnd::Ended:
      return;
    case LoginEnd::LoggedIn:
      break;
  }

  ProgramValues& program = Program();
  program.FilterRuleList.clear();
  const std::string rulePath = program.AppPath + "subjectfilter.cfg";
  if (FileExists(rulePath)) {
    std::string contents;
    if (!ReadWholeFile(rulePath, contents)) {
      // As every failure after the open, it ends the click quietly.
      return;
    }
    program.FilterRuleList = SplitTextLinesToNul(contents);
  }
  // The listing that follows the login belongs to this click: a failure in
  // it (the server hanging up, say) ends the click as quietly as one in the
  // login. Only a listing the user starts with its button reports failures.
  if (!closing_) {
    try {
      btnRetrieveHeaderClick();
    } catch (...) {
    }
  }
}

namespace {

std::string CertificateChangedText(const std::string& server, int port, const std::string& remembered,
                                   const std::string& presented) {
  return Cp("伺服器 ") + server + ":" + std::to_string(port) +
         Cp(" 出示的憑證與先前記住的不同.\n\n先前記住的指紋 (SHA-256):\n") +
         (remembered.empty() ? Cp("(無法讀取記錄)") : remembered) + Cp("\n\n這次出示的指紋 (SHA-256):\n") +
         (presented.empty() ? Cp("(伺服器沒有出示憑證)") : presented) +
         Cp("\n\n如果伺服器沒有更換過憑證, 可能有人正在攔截這個連線.\n"
            "要信任這個新的憑證並繼續連線嗎? (選「否」會中斷連線, 不會送出帳號密碼)");
}

}  // namespace

bool TForm1::TrustServerCertificate() {
  if (!IdTCPClient1.TlsActive()) return true;
  const TlsPeerCheck peer = IdTCPClient1.CheckTlsPeer();
  const std::string server = IdTCPClient1.Host;
  const int port = IdTCPClient1.Port;
  const ServerTrust trust = DecideServerTrust(
      Program().AppPath + kCertFileName, server, port, peer.Verified, peer.Fingerprint,
      [&](const std::string& remembered, const std::string& presented) {
        return Dialogs().ConfirmYesNo(this, CertificateChangedText(server, port, remembered, presented));
      });
  if (closing_) return false;
  if (TrustAllowsLogin(trust)) return true;
  // Refused: the connection ends here, before the greeting is even read.
  try {
    IdTCPClient1.Close();
  } catch (...) {
  }
  return false;
}

void TForm1::IdTCPClient1Disconnected() {
  setWindowTitle(ToQt(UnconnectedCaption()));
  btnDisconnect->setEnabled(false);
  btnConnect->setEnabled(true);
  Timer1->stop();
}

void TForm1::Timer1Timer() { Session.KeepAlive(static_cast<uint32_t>(kKeepAliveMs)); }

void TForm1::SetRowConnection(int row, int connection) {
  SessionRow values = Session.Row(row);
  if (values.Number == 0) values.Number = row + 1;
  values.Connection = connection;
  Session.SetRow(row, values);
}

std::vector<int> TForm1::DeletableRows() const {
  std::vector<int> ticked;
  for (int row = ListView1->topLevelItemCount() - 1; row >= 0; --row) {
    if (RowTicked(row)) ticked.push_back(row);
  }
  return Session.DeletableNumbers(ticked);
}

void TForm1::BoundForClose() {
  if (!Session.BoundForClose()) return;
  // Whatever waits when the bound is over (an exchange finishing in its own
  // way, say) fails at once: the connection goes from under it.
  QTimer::singleShot(CloseBound(), this, [this] {
    if (Disconnecting()) Session.Drop();
  });
}

void TForm1::btnDisconnectClick() { Disconnect(false); }

void TForm1::Disconnect(bool windowClosing) {
  // A click nested in a running disconnect cancels its deletion.
  if (Disconnecting()) {
    cancelDeletion_ = true;
    return;
  }
  // Only rows the current connection listed are its messages; rows left from
  // an earlier connection are neither asked about nor deleted.
  const int connection = ConnectionId();
  std::vector<int> ticked = DeletableRows();
  if (!ticked.empty() && !Dialogs().ConfirmYesCancel(this, Cp("您確定要將標記的信刪除嗎?"))) return;
  // The marks are read once more after the question, so what goes out is
  // what the user agreed to even if the list changed meanwhile.
  if (!ticked.empty()) ticked = connection == ConnectionId() ? DeletableRows() : std::vector<int>{};

  cancelDeletion_ = false;
  struct DisconnectEnds {
    TForm1& window;
    ~DisconnectEnds() {
      window.cancelDeletion_ = false;
      window.btnDisconnect->setText(QString::fromUtf8("中斷連線"));
    }
  } disconnectEnds{*this};
  if (windowClosing || closing_) BoundForClose();

  // Each message is kept first (unless the setting keeps no copies), named
  // after its subject as the list shows it.
  std::vector<MarkedMessage> marked;
  for (int number : ticked) {
    int row = -1;
    for (int i = 0; i < static_cast<int>(Session.Rows().size()); ++i) {
      if (Session.Row(i).Number == number && Session.Row(i).Connection == connection) {
        row = i;
        break;
      }
    }
    marked.push_back({number, row < 0 ? std::string() : TrimBlank(RowText(row, ColSubject))});
  }
  const std::string folder =
      marked.empty() ? std::string() : KeptFolderForDeletion(Program().AppPath, Session.DownloadLabel());
  if (!folder.empty()) btnDisconnect->setText(QString::fromUtf8("取消"));
  CopySteps steps;
  steps.Progress = [this](int done, int total) {
    ProgressBar1->setRange(0, total);
    ProgressBar1->setValue(done);
  };
  steps.ProcessEvents = [] { QCoreApplication::processEvents(); };
  // A close that began this disconnect deletes what the user agreed to; one
  // that comes while it runs stops it, as Cancel does.
  steps.Stop = [this] { return cancelDeletion_; };
  const CloseResult result = Session.Close(std::move(marked), folder, std::move(steps));
  // What the user had deleted is junk to learn from; the disconnect itself
  // never fails for it.
  try {
    LearnDeletedRows(result.Deleted);
  } catch (...) {
  }
  // A window on its way out says nothing more.
  if (closing_) return;
  if (result.Kept || result.Reopened) {
    // One message names what stayed on the server and why.
    const std::string stayed =
        StayedOnServerText(result.Deletion, !result.Unconfirmed && result.Failure.empty());
    if (!stayed.empty()) Dialogs().ShowMessage(this, stayed);
    return;
  }
  if (result.Unconfirmed) {
    Dialogs().ShowMessage(this, UnconfirmedDeletionMessage());
    return;
  }
  if (!result.Failure.empty()) throw NetError(result.Failure);
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (closing_) {
    // A second close while the first one still runs.
    event->accept();
    return;
  }
  closing_ = true;
  if (Disconnecting()) {
    // The close came while a disconnect waits for the server: the disconnect
    // goes on, within the close's bound, and the window goes when it ends;
    // no further copy and no further "dele" goes out.
    cancelDeletion_ = true;
    BoundForClose();
  } else if (IsConnected()) {
    // Cancel to the deletion question closes the window at once, without a
    // word to the server.
    HandlerScope scope(*this);
    RunHandler(this, [this] { Disconnect(true); });
  } else if (IdTCPClient1.IsOpen()) {
    // Closed while its connect click is still connecting: the connect ends
    // at once, and nothing has been said to the server yet.
    IdTCPClient1.Close();
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
