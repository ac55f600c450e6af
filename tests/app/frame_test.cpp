// The frame: numbering of new session windows, the window commands and list,
// closing the program with a connected window, the About box, and the
// promotional status line of the session windows.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>

#include <memory>
#include <ostream>
#include <sstream>

#include "../session/session_lifecycle_support.h"
#include "tests/support/scripted_pop3_server.h"
#include "app/TAboutBox.h"
#include "app/TMainForm.h"
#include "app/qt_text.h"
#include "session/TForm1.h"
#include "common/file_io.h"
#include "learn/learned_store.h"
#include "learn/session_learning.h"
#include "session/message_file.h"
#include "session/program_values.h"

namespace brevan::testing {
namespace {

using brevan::test::ScriptedPop3Server;

const QString kDesignCaption = QString::fromUtf8("Brevan v3.3 (未連線)");

class FrameTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    frame_ = std::make_unique<TMainForm>();
    frame_->resize(900, 600);
    frame_->show();
    frame_->CreateSessionWindow(kDesignCaption);
  }
  void TearDown() override {
    frame_.reset();
    WindowTest::TearDown();
  }
  QList<QString> Captions() const {
    QList<QString> captions;
    for (TForm1* form : frame_->SessionWindows()) captions.append(form->windowTitle());
    return captions;
  }
  std::unique_ptr<TMainForm> frame_;
};

// ---- numbering of new windows ----

struct NumberingRow {
  const char* name;
  const char* steps;  // "N": New; "x<i>": close the i-th open window (0-based)
  std::vector<const char*> captions;  // every open window afterwards, in order
};
void PrintTo(const NumberingRow& row, std::ostream* os) { *os << row.name; }

class FrameNumbering : public FrameTest, public ::testing::WithParamInterface<NumberingRow> {};

TEST_P(FrameNumbering, NumberIsTheOpenCountPlusOne) {
  const NumberingRow& row = GetParam();
  std::istringstream steps(row.steps);
  std::string step;
  while (steps >> step) {
    if (step == "N") {
      frame_->FileNew1->trigger();
    } else {
      int index = std::stoi(step.substr(1));
      frame_->SessionWindows().at(index)->close();
      DrainEvents();
    }
  }
  QList<QString> expected;
  for (const char* caption : row.captions) expected.append(QString::fromUtf8(caption));
  EXPECT_EQ(Captions(), expected);
  EXPECT_EQ(frame_->MdiArea->subWindowList().size(), expected.size());  // closed ones are gone
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FrameNumbering,
    ::testing::Values(
        NumberingRow{"start", "", {"Brevan v3.3 (未連線)"}},
        NumberingRow{"first_new_is_2", "N", {"Brevan v3.3 (未連線)", "Brevan v3.2 (2)(未連線)"}},
        NumberingRow{"three_open", "N N", {"Brevan v3.3 (未連線)", "Brevan v3.2 (2)(未連線)", "Brevan v3.2 (3)(未連線)"}},
        NumberingRow{"closing_2_gives_2_again", "N x1 N", {"Brevan v3.3 (未連線)", "Brevan v3.2 (2)(未連線)"}},
        NumberingRow{"numbers_repeat", "N N x1 N",
                     {"Brevan v3.3 (未連線)", "Brevan v3.2 (3)(未連線)", "Brevan v3.2 (3)(未連線)"}},
        NumberingRow{"all_closed_gives_1", "x0 N", {"Brevan v3.2 (1)(未連線)"}}),
    [](const ::testing::TestParamInfo<NumberingRow>& info) { return std::string(info.param.name); });

TEST_F(FrameTest, NewWindowIsMaximisedInsideTheFrame) {
  frame_->FileNew1->trigger();
  QList<QMdiSubWindow*> subs = frame_->MdiArea->subWindowList(QMdiArea::CreationOrder);
  ASSERT_EQ(subs.size(), 2);
  EXPECT_TRUE(subs[1]->isMaximized());
  EXPECT_EQ(subs[1]->widget(), frame_->SessionWindows().at(1));
  EXPECT_EQ(frame_->FileNew1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_N));
}

// ---- window commands ----

class FrameArrange : public FrameTest {
 protected:
  void SetUp() override {
    FrameTest::SetUp();
    frame_->FileNew1->trigger();
    frame_->FileNew1->trigger();
    subs_ = frame_->MdiArea->subWindowList(QMdiArea::CreationOrder);
    ASSERT_EQ(subs_.size(), 3);
  }
  QList<QMdiSubWindow*> subs_;
};

TEST_F(FrameArrange, TileHorizontallyStacksFullWidthRows) {
  frame_->WindowTileHorizontal1->trigger();
  const QRect space = frame_->MdiArea->viewport()->rect();
  int y = 0;
  for (QMdiSubWindow* sub : subs_) {
    EXPECT_FALSE(sub->isMaximized());
    EXPECT_EQ(sub->geometry().x(), 0);
    EXPECT_EQ(sub->geometry().width(), space.width());
    // One below the other, each its share of the height or, where that is
    // less than the window needs, its minimum (the area then scrolls).
    EXPECT_EQ(sub->geometry().y(), y);
    EXPECT_EQ(sub->geometry().height(), std::max(space.height() / 3, sub->minimumSizeHint().height()));
    y = sub->geometry().bottom() + 1;
  }
}

TEST_F(FrameArrange, TileVerticallyPutsFullHeightColumnsSideBySide) {
  frame_->WindowTileVertical1->trigger();
  const QRect space = frame_->MdiArea->viewport()->rect();
  int x = 0;
  for (QMdiSubWindow* sub : subs_) {
    EXPECT_EQ(sub->geometry().y(), 0);
    EXPECT_EQ(sub->geometry().height(), std::max(space.height(), sub->minimumSizeHint().height()));
    // Side by side, each its share of the width or its minimum.
    EXPECT_EQ(sub->geometry().x(), x);
    EXPECT_EQ(sub->geometry().width(), std::max(space.width() / 3, sub->minimumSizeHint().width()));
    x = sub->geometry().right() + 1;
  }
}

TEST_F(FrameArrange, MinimizeAllAndCascade) {
  frame_->WindowMinimizeAll1->trigger();
  for (QMdiSubWindow* sub : subs_) EXPECT_TRUE(sub->isMinimized());
  // Minimised windows are left out of a tiling.
  frame_->WindowTileVertical1->trigger();
  for (QMdiSubWindow* sub : subs_) EXPECT_TRUE(sub->isMinimized());
}

TEST_F(FrameArrange, WindowMenuListsTheOpenWindows) {
  emit frame_->Window1->aboutToShow();
  QStringList texts;
  for (QAction* action : frame_->Window1->actions())
    if (!action->isSeparator()) texts.append(action->text());
  ASSERT_EQ(texts.size(), 4 + 3);
  EXPECT_EQ(texts[0], frame_->WindowCascade1->text());
  EXPECT_TRUE(texts[4].endsWith(kDesignCaption));
  EXPECT_TRUE(texts[5].endsWith(QString::fromUtf8("Brevan v3.2 (2)(未連線)")));
  // Picking an entry activates that window.
  frame_->Window1->actions().last()->trigger();
  EXPECT_EQ(frame_->MdiArea->activeSubWindow(), subs_[2]);
}

// ---- ending the program ----

TEST_F(FrameTest, ExitClosesEveryWindowAndAConnectedOneDeletesFirst) {
  ScriptedPop3Server server;
  server.SendLine("+OK ready").AwaitCommand().SendLine("-ERR unknown command");  // capa: no STLS
  server.AwaitCommand().SendLine("+OK").AwaitCommand().SendLine("+OK");
  server.AwaitCommand().SendLine("-ERR unknown command");
  server.AwaitCommand().SendLine("+OK").SendLine("1 10").SendLine(".");
  server.AwaitCommand().SendLine("+OK").SendLine("Subject: one").SendLine(".").AwaitCommand().SendLine("+OK");
  frame_->FileNew1->trigger();
  QPointer<TForm1> connected = frame_->SessionWindows().at(1);
  QPointer<TForm1> idle = frame_->SessionWindows().at(0);
  connected->ComboBox1->setEditText("127.0.0.1");
  connected->Edit4->setText("alice");
  connected->Edit3->setText(QString::number(server.Port()));
  connected->btnConnect->click();
  ASSERT_TRUE(connected->btnDisconnect->isEnabled());
  ASSERT_EQ(connected->ListView1->topLevelItemCount(), 1);
  connected->ListView1->topLevelItem(0)->setCheckState(ColNumber, Qt::Checked);

  frame_->FileExit1->trigger();
  DrainEvents();
  EXPECT_FALSE(frame_->isVisible());
  EXPECT_TRUE(connected.isNull());
  EXPECT_TRUE(idle.isNull());
  EXPECT_EQ(dialogs_.questions, std::vector<std::string>{Cp("您確定要將標記的信刪除嗎?")});
  ASSERT_TRUE(server.WaitForConnectionsEnded(1));
  EXPECT_EQ(server.Commands(),
            (std::vector<std::string>{"capa", "user alice", "pass ", "capa", "list", "top 1 0", "dele 1", "quit"}));
}

TEST_F(FrameTest, FrameClosedWhileALoginAwaitsTheServer) {
  ScriptedPop3Server server;
  server.SendLine("+OK ready").AwaitCommand().SendLine("-ERR unknown command");  // USER is never answered
  QPointer<TForm1> w = frame_->SessionWindows().at(0);
  w->ComboBox1->setEditText("127.0.0.1");
  w->Edit4->setText("alice");
  w->Edit3->setText(QString::number(server.Port()));
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (server.Commands().size() >= 2) {
      closer.stop();
      frame_->close();
    }
  });
  closer.start(10);
  w->btnConnect->click();  // the frame closes inside the wait for the USER reply
  DrainEvents();
  EXPECT_FALSE(frame_->isVisible());
  EXPECT_TRUE(w.isNull());
  ASSERT_TRUE(server.WaitForConnectionsEnded(1));
  EXPECT_EQ(server.Commands(), (std::vector<std::string>{"capa", "user alice", "quit"}));
  EXPECT_TRUE(dialogs_.messages.empty());
  EXPECT_TRUE(dialogs_.errors.empty());
}

TEST_F(FrameTest, AboutBoxIsModalWithItsDefaultOk) {
  frame_->AboutBox = new TAboutBox(frame_.get());
  EXPECT_EQ(frame_->AboutBox->windowTitle(), QString::fromUtf8("關於Brevan"));
  EXPECT_TRUE(frame_->AboutBox->OKButton->isDefault());
  bool wasModal = false;
  QTimer::singleShot(0, [&] {
    wasModal = frame_->AboutBox->isVisible() && frame_->AboutBox->isModal();
    frame_->AboutBox->OKButton->click();
  });
  frame_->HelpAbout1->trigger();  // returns once OK has closed it
  EXPECT_TRUE(wasModal);
  EXPECT_FALSE(frame_->AboutBox->isVisible());
  EXPECT_EQ(frame_->AboutBox->result(), QDialog::Accepted);
}

// ---- the promotional status line ----

TEST_F(FrameTest, StatusLineRotatesOnTheSharedState) {
  TForm1* first = frame_->SessionWindows().at(0);
  frame_->FileNew1->trigger();
  TForm1* second = frame_->SessionWindows().at(1);
  auto text = [](TForm1* w) { return FromQt(w->StatusBar1->currentMessage()); };
  EXPECT_EQ(text(first), PromoMailServerText());  // the design text
  EXPECT_EQ(Program().PromoState, 1);

  first->Timer2Timer();  // 6000 ms: still the mail server
  EXPECT_EQ(text(first), PromoMailServerText());
  EXPECT_EQ(Program().PromoState, 2);
  // The other window's tick follows the shared state: it shows the FTP text.
  second->Timer2Timer();
  EXPECT_EQ(text(second), PromoFtpServerText());
  EXPECT_EQ(Program().PromoState, 1);
  first->Timer2Timer();
  second->Timer2Timer();
  EXPECT_EQ(text(first), PromoMailServerText());
  EXPECT_EQ(text(second), PromoFtpServerText());
}

struct PromoClickRow {
  const char* name;
  int state;
  const char* clicked;  // "status" or "home"
  std::string url;
};
void PrintTo(const PromoClickRow& row, std::ostream* os) { *os << row.name; }

class PromoClick : public FrameTest, public ::testing::WithParamInterface<PromoClickRow> {};

TEST_P(PromoClick, OpensTheAddressOfTheState) {
  const PromoClickRow& row = GetParam();
  TForm1* w = frame_->SessionWindows().at(0);
  Program().PromoState = row.state;
  QWidget* target = std::string(row.clicked) == "status" ? static_cast<QWidget*>(w->StatusBar1) : w->Label5;
  QPointF at(2, 2);
  QMouseEvent press(QEvent::MouseButtonPress, at, target->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, at, target->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QCoreApplication::sendEvent(target, &press);
  QCoreApplication::sendEvent(target, &release);
  EXPECT_EQ(desktop_.urls, std::vector<std::string>{row.url});
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PromoClick,
    ::testing::Values(PromoClickRow{"state_1_opens_the_ftp_server", 1, "status", PromoFtpServerUrl()},
                      PromoClickRow{"state_2_opens_the_mail_server", 2, "status", PromoMailServerUrl()},
                      PromoClickRow{"home_link", 1, "home", HomePageUrl()}),
    [](const ::testing::TestParamInfo<PromoClickRow>& info) { return std::string(info.param.name); });

TEST(PromoAddresses, AllUnderTheReservedDomain) {
  for (const std::string& url : {PromoMailServerUrl(), PromoFtpServerUrl(), HomePageUrl()}) {
    std::string host = url.substr(url.find("//") + 2);
    host = host.substr(0, host.find('/'));
    EXPECT_TRUE(host == "example.com" || host.ends_with(".example.com")) << url;
  }
  EXPECT_NE(PromoMailServerText(), PromoFtpServerText());
}

// ---- learning a folder of saved messages ----

// The File menu learns the .eml files of the folder it offers (the session
// window's download folder), and the same files the other way round.
TEST_F(FrameTest, LearnsAFolderOfMessagesEitherWay) {
  ASSERT_FALSE(frame_->SessionWindows().isEmpty());
  frame_->SessionWindows().at(0)->Session.SetDownloadLabel("ann(pop.example)");
  const std::string folder = DownloadFolder(Program().AppPath, "ann(pop.example)");
  ASSERT_TRUE(ForceDirectories(folder));
  ASSERT_TRUE(WriteFileAtomic(folder + "/a.eml", "Subject: one\r\n\r\nbody"));
  ASSERT_TRUE(WriteFileAtomic(folder + "/b.eml", "Subject: two\r\n\r\nbody"));
  ASSERT_TRUE(WriteFileAtomic(folder + "/c.txt", "Subject: three\r\n\r\n"));
  const std::string store = Program().AppPath + kLearnedStoreName;
  frame_->FileLearnGood1->trigger();
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_NE(dialogs_.messages[0].find(" 2 "), std::string::npos);
  EXPECT_EQ(LearnedStore(store).GoodMessages(), 2u);
  frame_->FileLearnJunk1->trigger();
  EXPECT_EQ(LearnedStore(store).GoodMessages(), 0u);
  EXPECT_EQ(LearnedStore(store).JunkMessages(), 2u);
  CloseSessionLearnedStore();
}

}  // namespace
}  // namespace brevan::testing
