// Window arrangement as the user meets it: every control of a session window
// stays whole and apart at any size the frame's arrangement gives it, and the
// decoded-text viewer opens over the frame, not over its menu.
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>

#include <memory>
#include <ostream>

#include "../session/session_lifecycle_support.h"
#include "app/TMainForm.h"
#include "app/qt_text.h"
#include "decode/TForm2.h"
#include "session/TForm1.h"

namespace brevan::testing {
namespace {

const QString kCaption = QString::fromUtf8("Brevan v3.3 (未連線)");

// The controls of the two groups, by name, in their order.
const char* const kControls[] = {"Label1",  "ComboBox1",     "Label4",    "Edit3",         "Label2",
                                 "Edit4",   "Label3",        "Edit2",     "btnConnect",    "btnDisconnect",
                                 "Button1", "Button2",       "Label5",    "btnRetrieveHeader", "btnFirst100",
                                 "btnDownload", "btnRead",   "BitBtn1",   "btnMarkDelete", "btnDeleteAll",
                                 "btnCancelAll"};

enum class Arrangement { Maximised, TileVertically, TileHorizontally, Cascade };

struct ArrangeRow {
  const char* name;
  int frameWidth, frameHeight;
  int windows;
  Arrangement arrangement;
};
void PrintTo(const ArrangeRow& r, std::ostream* os) { *os << r.name; }

class SessionWindowArrangement : public WindowTest, public ::testing::WithParamInterface<ArrangeRow> {
 protected:
  void TearDown() override {
    frame_.reset();
    WindowTest::TearDown();
  }
  std::unique_ptr<TMainForm> frame_;
};

TEST_P(SessionWindowArrangement, EveryControlWholeAndApart) {
  const ArrangeRow& row = GetParam();
  frame_ = std::make_unique<TMainForm>();
  frame_->resize(row.frameWidth, row.frameHeight);
  frame_->show();
  for (int i = 0; i < row.windows; ++i) frame_->CreateSessionWindow(kCaption);
  switch (row.arrangement) {
    case Arrangement::Maximised:
      break;
    case Arrangement::TileVertically:
      frame_->WindowTileVertical1->trigger();
      break;
    case Arrangement::TileHorizontally:
      frame_->WindowTileHorizontal1->trigger();
      break;
    case Arrangement::Cascade:
      frame_->WindowCascade1->trigger();
      break;
  }
  DrainEvents();

  int beyondView = 0;
  const QRect view = frame_->MdiArea->viewport()->rect();
  for (TForm1* form : frame_->SessionWindows()) {
    auto* sub = qobject_cast<QMdiSubWindow*>(form->parentWidget());
    ASSERT_NE(sub, nullptr);
    if (!view.contains(sub->geometry())) ++beyondView;
    EXPECT_GE(form->width(), form->minimumWidth());
    EXPECT_GE(form->height(), form->minimumHeight());
    // Inside the sub-window's frame: nothing of the form is cut away.
    EXPECT_TRUE(sub->rect().contains(QRect(form->mapTo(sub, QPoint(0, 0)), form->size())))
        << "form " << form->width() << "x" << form->height() << " in window " << sub->width() << "x"
        << sub->height();

    std::vector<std::pair<QString, QRect>> placed;
    for (const char* name : kControls) {
      auto* control = form->findChild<QWidget*>(name);
      ASSERT_NE(control, nullptr) << name;
      const QRect rect(control->mapTo(form, QPoint(0, 0)), control->size());
      EXPECT_TRUE(form->rect().contains(rect)) << name << " cut off";
      EXPECT_GE(control->width(), control->minimumSizeHint().width()) << name << " squeezed";
      EXPECT_GE(control->height(), control->minimumSizeHint().height()) << name << " squeezed";
      for (const auto& [other, otherRect] : placed)
        EXPECT_FALSE(rect.intersects(otherRect)) << name << " overlaps " << other.toStdString();
      placed.emplace_back(QString(name), rect);
    }
  }
  // What the view cannot hold is reached by scrolling.
  if (beyondView > 0) {
    EXPECT_TRUE(frame_->MdiArea->horizontalScrollBar()->isVisible() ||
                frame_->MdiArea->verticalScrollBar()->isVisible());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SessionWindowArrangement,
    ::testing::Values(ArrangeRow{"maximised_wide_frame", 1400, 800, 1, Arrangement::Maximised},
                      ArrangeRow{"maximised_narrow_frame", 700, 600, 1, Arrangement::Maximised},
                      ArrangeRow{"two_tiled_vertically_1360", 1360, 768, 2, Arrangement::TileVertically},
                      ArrangeRow{"two_tiled_vertically_1024", 1024, 768, 2, Arrangement::TileVertically},
                      ArrangeRow{"four_tiled_vertically", 1360, 768, 4, Arrangement::TileVertically},
                      ArrangeRow{"three_tiled_horizontally", 1360, 768, 3, Arrangement::TileHorizontally},
                      ArrangeRow{"three_cascaded", 1024, 700, 3, Arrangement::Cascade}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- the groups wrap instead of overlapping ----

struct WrapRow {
  const char* name;
  int width;     // > 0: this width; 0: the window's minimum width
  int overBoth;  // with width < 0: this much over the two groups' minimum widths
  bool sideBySide;
};
void PrintTo(const WrapRow& r, std::ostream* os) { *os << r.name; }

class ControlGroupsWrap : public WindowTest, public ::testing::WithParamInterface<WrapRow> {};

TEST_P(ControlGroupsWrap, SideBySideOnlyWhenBothFit) {
  const WrapRow& row = GetParam();
  TForm1 form;
  form.show();
  const int bothWidth =
      form.GroupBoxLogin->minimumSizeHint().width() + form.GroupBoxFunctions->minimumSizeHint().width();
  // Widths relative to what the two groups need, so the rows hold for any
  // font. Side by side they need their minimum widths and the 2 pixels
  // between them.
  const int width = row.width < 0 ? bothWidth + row.overBoth : std::max(row.width, form.minimumWidth());
  form.resize(width, 600);
  DrainEvents();
  const QRect login = form.GroupBoxLogin->geometry();
  const QRect functions = form.GroupBoxFunctions->geometry();
  EXPECT_FALSE(login.intersects(functions));
  if (row.sideBySide) {
    EXPECT_EQ(login.top(), functions.top());
    EXPECT_LT(login.right(), functions.left());
  } else {
    EXPECT_LT(login.bottom(), functions.top());  // the order stays: login first
    EXPECT_EQ(login.width(), functions.width());
  }
  EXPECT_LT(functions.bottom(), form.GroupBox1->geometry().top());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ControlGroupsWrap,
    ::testing::Values(WrapRow{"narrowest_allowed_stacks", 0, 0, false}, WrapRow{"width_680_stacks", 680, 0, false},
                      WrapRow{"one_short_of_both_stacks", -1, 1, false},
                      WrapRow{"exactly_both_side_by_side", -1, 2, true},
                      WrapRow{"room_for_both_side_by_side", 1600, 0, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WindowTest, SessionWindowHasAMinimumThatHoldsTheWiderGroup) {
  TForm1 form;
  form.show();
  DrainEvents();
  EXPECT_GE(form.minimumWidth(), form.GroupBoxLogin->minimumSizeHint().width());
  EXPECT_GE(form.minimumWidth(), form.GroupBoxFunctions->minimumSizeHint().width());
  EXPECT_GE(form.minimumHeight(), form.GroupBoxLogin->minimumSizeHint().height() +
                                      form.GroupBoxFunctions->minimumSizeHint().height());
  // Not the whole of both side by side: a narrow window stacks them instead.
  EXPECT_LT(form.minimumWidth(),
            form.GroupBoxLogin->minimumSizeHint().width() + form.GroupBoxFunctions->minimumSizeHint().width());
}

// ---- the decoded-text viewer ----

struct ViewerRow {
  const char* name;
  QRect frame;
};
void PrintTo(const ViewerRow& r, std::ostream* os) { *os << r.name; }

class ViewerPlacement : public WindowTest, public ::testing::WithParamInterface<ViewerRow> {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    delete Form2;
    Form2 = new TForm2;
  }
  void TearDown() override {
    frame_.reset();
    delete Form2;
    Form2 = nullptr;
    WindowTest::TearDown();
  }
  std::unique_ptr<TMainForm> frame_;
};

TEST_P(ViewerPlacement, CentredOverTheFrameThenWhereLeft) {
  const ViewerRow& row = GetParam();
  frame_ = std::make_unique<TMainForm>();
  frame_->setGeometry(row.frame);
  frame_->show();
  TForm1* form = frame_->CreateSessionWindow(kCaption);
  DrainEvents();

  form->Memo1->setPlainText("QUJD");
  form->Memo1->selectAll();
  form->Base641->trigger();
  DrainEvents();
  ASSERT_TRUE(Form2->isVisible());
  EXPECT_EQ(Form2->Memo1->toPlainText(), "ABC");
  const QPoint centre = Form2->frameGeometry().center();
  const QPoint frameCentre = frame_->frameGeometry().center();
  // Within the few pixels of a window frame not known before the first showing.
  EXPECT_LE(std::abs(centre.x() - frameCentre.x()), 4);
  EXPECT_LE(std::abs(centre.y() - frameCentre.y()), 4);
  // Below the frame's menu and tool bar.
  EXPECT_GT(Form2->frameGeometry().top(), frame_->mapToGlobal(frame_->MdiArea->geometry().topLeft()).y());

  // The user moves it and closes it; the next decode shows it where it was left.
  Form2->move(row.frame.topLeft() + QPoint(17, 23));
  const QPoint left = Form2->pos();
  Form2->hide();
  form->Quoteprintable1->trigger();
  DrainEvents();
  ASSERT_TRUE(Form2->isVisible());
  EXPECT_EQ(Form2->pos(), left);
}

INSTANTIATE_TEST_SUITE_P(Rows, ViewerPlacement,
                         ::testing::Values(ViewerRow{"frame_at_the_origin", QRect(0, 0, 1000, 700)},
                                           ViewerRow{"frame_moved", QRect(150, 90, 900, 640)}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace brevan::testing
