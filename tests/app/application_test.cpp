// What start-up gives every window: Qt's standard buttons in Traditional
// Chinese, the program's own icon, and titles left exactly as the windows set
// them.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <ostream>

#include "app/TAboutBox.h"
#include "app/application.h"
#include "app/dialogs.h"
#include "session/TForm1.h"

namespace brevan {
namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "brevan_app_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    auto* made = new QApplication(argc, argv);
    SetUpApplication(*made);
    return made;
  }();
  return *app;
}

bool TranslationInstalled() {
  return QFileInfo::exists(QDir(QLibraryInfo::path(QLibraryInfo::TranslationsPath)).filePath("qtbase_zh_TW.qm"));
}

// The texts of the buttons of the box that `show` opens, by role, read while
// the box is up; the box is then closed.
std::map<QMessageBox::StandardButton, QString> ButtonsOf(const std::function<void()>& show,
                                                         QString* title = nullptr) {
  std::map<QMessageBox::StandardButton, QString> texts;
  // Looks for the box until it is up, so a box that comes late never leaves
  // the test waiting in its event loop.
  QTimer poll;
  poll.setInterval(10);
  QObject::connect(&poll, &QTimer::timeout, [&texts, &poll, title] {
    QMessageBox* box = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (auto* found = qobject_cast<QMessageBox*>(widget); found && found->isVisible()) box = found;
    }
    if (!box) return;
    if (title) *title = box->windowTitle();
    for (QAbstractButton* button : box->buttons()) {
      // The accelerator mark is no part of what the user reads.
      texts[box->standardButton(button)] = button->text().remove(QLatin1Char('&'));
    }
    poll.stop();
    box->done(0);
  });
  poll.start();
  show();
  poll.stop();
  return texts;
}

struct ButtonRow {
  const char* name;
  std::function<void()> show;
  std::map<QMessageBox::StandardButton, QString> expected;  // a text the button's text starts with
};
void PrintTo(const ButtonRow& row, std::ostream* os) { *os << row.name; }

class StandardButtons : public ::testing::TestWithParam<ButtonRow> {};

TEST_P(StandardButtons, ReadInChinese) {
  App();
  if (!TranslationInstalled()) GTEST_SKIP() << "Qt's Traditional Chinese translation is not installed";
  const auto texts = ButtonsOf(GetParam().show);
  ASSERT_EQ(texts.size(), GetParam().expected.size());
  for (const auto& [button, text] : GetParam().expected) {
    ASSERT_TRUE(texts.count(button)) << button;
    EXPECT_TRUE(texts.at(button).startsWith(text)) << texts.at(button).toStdString();
  }
}

// Every box is captioned with the application title, as set.
TEST_P(StandardButtons, CarryTheApplicationTitle) {
  App();
  QString title;
  ButtonsOf(GetParam().show, &title);
  EXPECT_EQ(title, QStringLiteral("Mail - Brevan"));
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, StandardButtons,
    ::testing::Values(
        ButtonRow{"yes_cancel",
                  [] { Dialogs().ConfirmYesCancel(nullptr, "q"); },
                  {{QMessageBox::Yes, QString::fromUtf8("是")}, {QMessageBox::Cancel, QString::fromUtf8("取消")}}},
        ButtonRow{"yes_no",
                  [] { Dialogs().ConfirmYesNo(nullptr, "q"); },
                  {{QMessageBox::Yes, QString::fromUtf8("是")}, {QMessageBox::No, QString::fromUtf8("否")}}},
        ButtonRow{"message", [] { Dialogs().ShowMessage(nullptr, "m"); }, {{QMessageBox::Ok, QString::fromUtf8("確定")}}},
        ButtonRow{"error", [] { Dialogs().ShowError(nullptr, "e."); }, {{QMessageBox::Ok, QString::fromUtf8("確定")}}}),
    [](const ::testing::TestParamInfo<ButtonRow>& info) { return std::string(info.param.name); });

// The About box's one button reads as the message boxes' OK does, in
// whatever language Qt's catalogue gives.
TEST(Application, AboutBoxOkReadsAsTheMessageBoxesOk) {
  App();
  const auto texts = ButtonsOf([] { Dialogs().ShowMessage(nullptr, "m"); });
  ASSERT_TRUE(texts.count(QMessageBox::Ok));
  TAboutBox about;
  const QString ok = about.OKButton->text().remove(QLatin1Char('&'));
  EXPECT_EQ(ok, texts.at(QMessageBox::Ok));
  if (TranslationInstalled()) {
    EXPECT_TRUE(ok.startsWith(QString::fromUtf8("確定"))) << ok.toStdString();
  }
}

// The address the About box shows and "HOME" opens is the home page of the
// desktop metadata (which the package's Homepage field also carries).
TEST(Application, AboutBoxShowsTheMetadatasHomePage) {
  App();
  QFile metainfo(QStringLiteral(BREVAN_SOURCE_DIR "/dist/%1.metainfo.xml").arg(QString::fromLatin1(kDesktopId)));
  ASSERT_TRUE(metainfo.open(QIODevice::ReadOnly));
  const auto match = QRegularExpression(QStringLiteral("<url type=\"homepage\">([^<]+)</url>"))
                         .match(QString::fromUtf8(metainfo.readAll()));
  ASSERT_TRUE(match.hasMatch());
  EXPECT_EQ(HomePageUrl(), match.captured(1).toStdString());
  TAboutBox about;
  EXPECT_TRUE(about.Comments->text().split(QLatin1Char('\n')).contains(match.captured(1)))
      << about.Comments->text().toStdString();
}

TEST(Application, WindowsCarryTheProgramsIconAtEverySize) {
  App();
  const QIcon icon = QApplication::windowIcon();
  ASSERT_FALSE(icon.isNull());
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const QSize actual = icon.actualSize(QSize(size, size));
    EXPECT_EQ(actual, QSize(size, size)) << size;
    // Drawn from the program's own picture, not an empty frame.
    const QImage image = icon.pixmap(QSize(size, size)).toImage();
    EXPECT_NE(image.pixelColor(size / 2, size / 2).alpha(), 0) << size;
  }
}

TEST(Application, NamesMatchTheDesktopEntry) {
  App();
  // Qt adds a display name to every title only when one is set (the frame's
  // real title is checked on a virtual display by the dist.window test).
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), QGuiApplication::applicationName());
  EXPECT_EQ(QGuiApplication::applicationName(), QStringLiteral("Brevan"));
  EXPECT_EQ(QGuiApplication::desktopFileName(), QString::fromLatin1(kDesktopId));
}

}  // namespace
}  // namespace brevan
