// The login fields as a keyboard user meets them: the port field takes digits
// and every editing and navigation key, the password field shows "*".
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

#include <memory>
#include <ostream>
#include <vector>

#include "app/qt_text.h"
#include "session/TForm1.h"
#include "session_lifecycle_support.h"

namespace brevan::testing {
namespace {

struct Key {
  int key;
  Qt::KeyboardModifiers modifiers;
  QString text;  // what a real keyboard sends with it
};

const Key kTab{Qt::Key_Tab, Qt::NoModifier, "\t"};
const Key kShiftTab{Qt::Key_Backtab, Qt::ShiftModifier, ""};
const Key kDelete{Qt::Key_Delete, Qt::NoModifier, "\x7f"};
const Key kBackspace{Qt::Key_Backspace, Qt::NoModifier, "\b"};
const Key kLeft{Qt::Key_Left, Qt::NoModifier, ""};
const Key kHome{Qt::Key_Home, Qt::NoModifier, ""};
const Key kEnd{Qt::Key_End, Qt::NoModifier, ""};
const Key kSelectAll{Qt::Key_A, Qt::ControlModifier, "\x01"};
Key Typed(const char* text) { return Key{0, Qt::NoModifier, QString::fromUtf8(text)}; }

struct PortKeyRow {
  const char* name;
  std::vector<Key> keys;  // pressed in order, the field starting as "110", cursor at its end
  QString text;           // the field afterwards
  const char* focus;      // the control that has the focus afterwards
};
void PrintTo(const PortKeyRow& row, std::ostream* os) { *os << row.name; }

class PortFieldKeys : public WindowTest, public ::testing::WithParamInterface<PortKeyRow> {};

TEST_P(PortFieldKeys, EditAndMoveAsInAnyField) {
  const PortKeyRow& row = GetParam();
  auto w = std::make_unique<TForm1>();
  w->show();
  QApplication::setActiveWindow(w.get());
  w->Edit3->setFocus();
  ASSERT_EQ(w->focusWidget(), w->Edit3);
  ASSERT_EQ(w->Edit3->text(), "110");
  w->Edit3->end(false);
  for (const Key& key : row.keys) {
    QWidget* target = w->focusWidget();
    QKeyEvent press(QEvent::KeyPress, key.key, key.modifiers, key.text);
    QCoreApplication::sendEvent(target, &press);
  }
  EXPECT_EQ(w->Edit3->text(), row.text);
  ASSERT_NE(w->focusWidget(), nullptr);
  EXPECT_EQ(w->focusWidget()->objectName(), row.focus);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PortFieldKeys,
    ::testing::Values(PortKeyRow{"tab_leaves_the_field", {kTab}, "110", "btnConnect"},
                      PortKeyRow{"shift_tab_goes_back", {kShiftTab}, "110", "Edit2"},
                      PortKeyRow{"home_then_delete", {kHome, kDelete}, "10", "Edit3"},
                      PortKeyRow{"left_then_delete", {kLeft, kDelete}, "11", "Edit3"},
                      PortKeyRow{"left_then_digit_inserts", {kLeft, Typed("5")}, "1150", "Edit3"},
                      PortKeyRow{"home_end_digit", {kHome, kEnd, Typed("9")}, "1109", "Edit3"},
                      PortKeyRow{"letter_discarded", {Typed("a")}, "110", "Edit3"},
                      PortKeyRow{"blank_discarded", {Typed(" ")}, "110", "Edit3"},
                      PortKeyRow{"sign_discarded", {Typed("-")}, "110", "Edit3"},
                      PortKeyRow{"fullwidth_digit_discarded", {Typed("５")}, "110", "Edit3"},
                      PortKeyRow{"digit_appended", {Typed("5")}, "1105", "Edit3"},
                      PortKeyRow{"five_characters_at_most", {Typed("9"), Typed("9"), Typed("9")}, "11099", "Edit3"},
                      PortKeyRow{"backspace", {kBackspace}, "11", "Edit3"},
                      PortKeyRow{"select_all_then_digit", {kSelectAll, Typed("9")}, "9", "Edit3"},
                      PortKeyRow{"tab_after_typing", {Typed("5"), kTab}, "1105", "btnConnect"}),
    [](const ::testing::TestParamInfo<PortKeyRow>& info) { return std::string(info.param.name); });

// ---- the password echo ----

struct EchoRow {
  const char* name;
  QString password;
  QString shown;
};
void PrintTo(const EchoRow& row, std::ostream* os) { *os << row.name; }

class PasswordEcho : public WindowTest, public ::testing::WithParamInterface<EchoRow> {};

TEST_P(PasswordEcho, OneStarPerCharacter) {
  const EchoRow& row = GetParam();
  auto w = std::make_unique<TForm1>();
  w->Edit2->setText(row.password);
  EXPECT_EQ(w->Edit2->displayText(), row.shown);
  EXPECT_EQ(w->Edit2->text(), row.password);  // the mask is only what is shown
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PasswordEcho,
    ::testing::Values(EchoRow{"empty", "", ""}, EchoRow{"ascii", "secret", "******"},
                      EchoRow{"blanks", "  ", "**"},
                      EchoRow{"chinese_characters", QString::fromUtf8("密碼"), "**"}),
    [](const ::testing::TestParamInfo<EchoRow>& info) { return std::string(info.param.name); });

TEST_F(WindowTest, TypedPasswordShowsStars) {
  auto w = std::make_unique<TForm1>();
  for (const char* c : {"p", "w", "1"}) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromUtf8(c));
    QCoreApplication::sendEvent(w->Edit2, &press);
  }
  EXPECT_EQ(w->Edit2->text(), "pw1");
  EXPECT_EQ(w->Edit2->displayText(), "***");
}

}  // namespace
}  // namespace brevan::testing
