#pragma once
// The session window: one POP3 session. Its controls are public so that tests
// can drive them; each has its own name as objectName.
#include <QWidget>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "net/tcp_client.h"
#include "session/outstanding_exchange.h"
#include "session/pop3_session.h"
#include "session/server_line.h"

class QComboBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class QPlainTextEdit;
class QProgressBar;
class QStatusBar;
class QLabel;
class QTimer;
class QMenu;
class QAction;
class QGroupBox;
class QSplitter;
class QKeyEvent;

namespace brevan {

class TIdAntiFreeze;

// Columns of ListView1: the number is the row's own caption (column 0), then
// the five sub-items.
enum MessageColumn {
  ColNumber = 0,
  ColSender = 1,
  ColSubject = 2,
  ColSize = 3,
  ColDate = 4,
  ColDownloadedFile = 5,
};

class TForm1 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // Login settings.
  QGroupBox* GroupBoxLogin = nullptr;
  QComboBox* ComboBox1 = nullptr;
  QLineEdit* Edit4 = nullptr;  // user
  QLineEdit* Edit2 = nullptr;  // password
  QLineEdit* Edit3 = nullptr;  // port
  QPushButton* btnConnect = nullptr;
  QPushButton* btnDisconnect = nullptr;
  QPushButton* Button1 = nullptr;  // save account
  QPushButton* Button2 = nullptr;  // delete account

  // Commands.
  QGroupBox* GroupBoxFunctions = nullptr;
  QLabel* Label5 = nullptr;  // HOME
  QPushButton* btnRetrieveHeader = nullptr;
  QPushButton* btnFirst100 = nullptr;
  QPushButton* btnDownload = nullptr;
  QPushButton* btnRead = nullptr;
  QPushButton* BitBtn1 = nullptr;  // plain-text view
  QPushButton* btnMarkDelete = nullptr;
  QPushButton* btnDeleteAll = nullptr;
  QPushButton* btnCancelAll = nullptr;

  // The message list, the text pane and what lies below.
  QGroupBox* GroupBox1 = nullptr;
  QSplitter* Splitter1 = nullptr;
  QTreeWidget* ListView1 = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QProgressBar* ProgressBar1 = nullptr;
  QStatusBar* StatusBar1 = nullptr;

  // Menus: PopupMenu1 on Memo1, PopupMenu2 on ListView1.
  QMenu* PopupMenu1 = nullptr;
  QAction* Base641 = nullptr;
  QAction* Quoteprintable1 = nullptr;
  QMenu* PopupMenu2 = nullptr;
  QAction* N1 = nullptr;
  QAction* subjectfiltercfgE1 = nullptr;
  QAction* N2 = nullptr;  // "這是垃圾信": teach the selected message as junk
  QAction* N3 = nullptr;  // "這不是垃圾信": teach it as good

  QTimer* Timer1 = nullptr;  // keep-alive, 120000 ms
  QTimer* Timer2 = nullptr;  // status line, 6000 ms

  // The window's POP3 session: the window shows it and asks it to talk to
  // the server; it never reads the server itself.
  Pop3Session Session;
  TIdTCPClient& IdTCPClient1 = Session.Connection();
  TIdAntiFreeze* IdAntiFreeze1 = nullptr;

  // ---- connection lifecycle, accounts, status line (TForm1.cpp) ----
  void FormCreate();
  void btnConnectClick();
  // Right after a TLS open, before the first command: the server's
  // certificate either verifies, or is the one remembered in brevan.certs, or
  // is remembered on first use, or the user is asked about a changed one.
  // False when the user refused it (the connection is closed then, and
  // nothing was sent) or the window began to close.
  bool TrustServerCertificate();
  void btnDisconnectClick();
  void IdTCPClient1Disconnected();
  void Timer1Timer();
  void Timer2Timer();
  void StatusBar1Click();
  void Label5Click();
  void ComboBox1Click();
  void Button1Click();
  void Button2Click();
  // The port field's key filter: true when the typed character is discarded.
  bool Edit3KeyPress(QKeyEvent* event);

  // True while the session counts as connected (from the login on, until a
  // disconnect has ended).
  bool IsConnected() const { return Session.Connected(); }
  // The connection check of the commands that need the server: shows
  // NotConnectedMessage and answers false when not connected.
  bool CheckConnected();

  // ---- listing, marks, preview, download, viewing, filter (TForm1Messages.cpp) ----
  void btnRetrieveHeaderClick();
  void btnMarkDeleteClick();
  void btnDeleteAllClick();
  void btnCancelAllClick();
  void ListView1CustomDrawItem(QTreeWidgetItem* item);
  void btnFirst100Click();
  // Puts a preview's text into Memo1 a piece at a time, servicing the
  // windows between pieces: the pane lays out a line in one go, so a line
  // longer than kPreviewLineChars is shown as consecutive lines of at most
  // that many characters. False when a close or a newer preview ended it.
  bool ShowPreviewText(const QString& text);
  static constexpr int kPreviewLineChars = 4096;
  void btnDownloadClick();
  void btnReadClick();
  void BitBtn1Click();
  void Base641Click();
  void Quoteprintable1Click();
  void ReapplyFilter();
  void N1Click();
  void subjectfiltercfgE1Click();

  // ---- the learned judgement (TForm1Learning.cpp) ----
  void N2Click();
  void N3Click();
  // The messages (positions + 1 of rows of the open connection) whose
  // deletion the server confirmed at a disconnect: each is learned as junk.
  void LearnDeletedRows(const std::vector<int>& numbers);
  // A row's check box changed by the user's hand (not by the program):
  // a tick teaches junk; unticking an automatic mark teaches good, and
  // unticking a hand tick takes that lesson back.
  void LearnFromHandTick(QTreeWidgetItem* item);
  // Teaches one row (no header block: nothing to learn).
  void LearnRow(int row, bool junk);
  // The header block the listing kept for the row.
  std::string RowHeaderBlock(int row) const;

  // Row access in the code page. A column set from Unicode text reads back
  // with "?" for what the code page lacks.
  std::string RowText(int row, int column) const;
  void SetRowText(int row, int column, const std::string& text);
  // Row access in Unicode (UTF-8), the text as the row shows it. The listing
  // sets sender and subject this way, the download the file name.
  std::string RowUnicodeText(int row, int column) const;
  void SetRowUnicodeText(int row, int column, const std::string& utf8);
  bool RowTicked(int row) const;
  void SetRowTicked(int row, bool ticked);
  // Why an automatic mark ticked the row (the code page), shown under the
  // list's hint on every column; the empty text removes it. Unticking a row
  // removes it as well; a hand tick sets none.
  void SetRowJunkReason(int row, const std::string& reason);
  std::string RowJunkReason(int row) const;
  int SelectedRow() const;  // -1 when none

  // One exchange at a time on the connection: a command that would start a
  // second one while another waits for the server is refused (the keep-alive
  // skips its NOOP).
  bool ExchangeBusy() const { return Session.Busy(); }

  // The exchange whose replies the server still owes, if any (see
  // OutstandingScope); a disconnect finishes it before its first command.
  OutstandingExchange* Outstanding() const { return Session.Outstanding(); }

  // True once the window has begun to close; handlers that return from a wait
  // check it before touching the window again.
  bool Closing() const { return closing_; }

  // Every successful open starts a new connection number. A row carries the
  // number of the connection whose listing made it, and only rows of the
  // connection now open may be deleted: the server renumbers its messages
  // from one connection to the next.
  int ConnectionId() const { return Session.ConnectionId(); }
  int RowConnection(int row) const { return Session.Row(row).Connection; }  // 0 for a row no listing made
  void SetRowConnection(int row, int connection);
  // The message number of a row, as its listing found it; 0 for none.
  int RowNumber(int row) const { return Session.Row(row).Number; }
  // The message numbers of the ticked rows of the current connection, from
  // the last row to the first.
  std::vector<int> DeletableRows() const;

  // How long a disconnect awaits each reply, and how long the whole of it may
  // take when the window closes. Tests shorten them.
  static constexpr std::chrono::milliseconds kDisconnectReplyBound = Pop3Session::kReplyBound;
  static constexpr std::chrono::milliseconds kCloseBound = Pop3Session::kCloseBound;
  std::chrono::milliseconds DisconnectReplyBound() const { return Session.ReplyBound(); }
  std::chrono::milliseconds CloseBound() const { return Session.CloseBoundValue(); }
  void SetDisconnectBounds(std::chrono::milliseconds reply, std::chrono::milliseconds close) {
    Session.SetBounds(reply, close);
  }
  bool Disconnecting() const { return Session.State() == SessionState::Closing; }
  // True once the user cancelled the deletion that runs now (a click on
  // btnDisconnect, captioned "取消" meanwhile): no further copy and no
  // further "dele"; the session still ends with "quit".
  bool DeletionCancelled() const { return cancelDeletion_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildLayout();
  void WireHandlers();

  void ShowSanitizedReply(const std::string& reply);
  // Buttons, keep-alive timer and caption as the session's state says.
  void ShowSessionState();
  // The disconnect of btnDisconnectClick and of the window's close.
  void Disconnect(bool windowClosing);
  // A close while a disconnect waits: what is left of it ends within the
  // close's bound.
  void BoundForClose();
  // Destroys the window now, or when its outermost running handler returns.
  void RequestDestroy();

  // The program itself is setting a row's tick (SetRowTicked): no lesson.
  bool settingTick_ = false;

  friend class HandlerScope;
  int handlerDepth_ = 0;
  unsigned previewGeneration_ = 0;
  bool closing_ = false;
  bool destroyRequested_ = false;
  bool cancelDeletion_ = false;
};

// Marks one command exchange on the window's session while it lives.
class ExchangeGuard : public SessionExchange {
 public:
  explicit ExchangeGuard(TForm1& window) : SessionExchange(window.Session) {}
};

// Registers the exchange whose replies are owed while it lives.
class OutstandingScope : public SessionOwed {
 public:
  OutstandingScope(TForm1& window, OutstandingExchange& exchange) : SessionOwed(window.Session, exchange) {}
};

// Counts one running handler of the window. A close that comes while handlers
// run (nested inside a wait for the server) destroys the window only when the
// outermost one has returned, so no handler ever runs on a deleted window.
class HandlerScope {
 public:
  explicit HandlerScope(TForm1& window) : window_(window) { ++window_.handlerDepth_; }
  ~HandlerScope();
  HandlerScope(const HandlerScope&) = delete;
  HandlerScope& operator=(const HandlerScope&) = delete;

 private:
  TForm1& window_;
};

// NotConnectedMessage, in the code page.
const std::string& NotConnectedMessage();

// Shown when a disconnect gave up on the server: ticked messages whose "dele"
// the server did not confirm may still be there.
const std::string& UnconfirmedDeletionMessage();

// The texts of the status line and the addresses behind it and behind "HOME".
const std::string& PromoMailServerText();
const std::string& PromoFtpServerText();
const std::string& PromoMailServerUrl();
const std::string& PromoFtpServerUrl();
// The home page: the About box shows it, and it is the address the package
// and the desktop metadata give (dist/).
const std::string& HomePageUrl();

}  // namespace brevan
