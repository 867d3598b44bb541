// Where the Qt window comes up and what it shows on a desktop: a screen the user can reach, the
// position a Wayland session cannot tell, the log's usual line on one row, a caret that rests.
#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextLayout>
#include <QThread>
#include <QWindow>
#include <functional>
#include <memory>
#include <optional>

#include "monitor/monitor_window.h"
#include "platform/common/window_on_screen.h"
#include "platform/qt/window_form.h"

namespace platform::qt {
namespace {

FormDesign Design() {
  return Form1::Design();
}

// Runs the event loop until `done`, for at most 5 s; what `done` says then.
bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 500 && !done(); ++i) {
    QCoreApplication::processEvents();
    QThread::msleep(10);
  }
  return done();
}

// Xvfb has no way to attach a second monitor: the choice among several screens is held against
// a layout of two, the placing itself against the real screen below.
TEST(ReachablePlace, MovesOnlyAWindowWhoseTitleBarIsOnNoScreen) {
  // Side by side, the right one smaller, with a panel along its top.
  const ScreenArea screens[] = {{{0, 0, 800, 600}, {0, 0, 800, 600}},
                                {{800, 0, 640, 480}, {800, 24, 640, 456}}};
  struct Row {
    const char* what;
    PixelRect frame;
    std::optional<PixelPoint> place;  // nullopt: stays
  };
  const Row rows[] = {
      {"on a screen", {100, 100, 106, 113}, std::nullopt},
      {"only a corner of the title bar shows", {-100, 590, 106, 113}, std::nullopt},
      {"title bar above the screen, body on it", {100, -30, 106, 113}, PixelPoint{100, 0}},
      {"where a monitor right of both was", {2000, 100, 106, 113}, PixelPoint{1334, 100}},
      {"in the corner below the smaller screen", {1000, 500, 106, 113}, PixelPoint{1000, 367}},
      {"top -150000, left 150000 twips", {10000, -10000, 106, 113}, PixelPoint{1334, 24}},
      {"larger than the screen", {-5000, 0, 900, 700}, PixelPoint{0, 0}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const auto place = ReachablePlace(row.frame, 24, screens);
    ASSERT_EQ(place.has_value(), row.place.has_value());
    if (place) {
      EXPECT_EQ(std::pair(place->left, place->top), std::pair(row.place->left, row.place->top));
    }
  }
  EXPECT_FALSE(ReachablePlace({10000, 0, 10, 10}, 1, {})) << "no screen: nowhere better";
}

TEST(QtForm, ComesUpWhereTheUserCanReachIt) {
  struct Row {
    float top, left;  // twips, as set
    QPoint shown;     // pixels, the frame on the 800 x 600 screen
  };
  const Row rows[] = {
      {1500, 3000, {200, 100}},   {-150000, 150000, {696, 0}},
      {-1500, 3000, {200, 0}},     // above the screen by more than its height
      {8850, -1500, {-100, 590}},  // mostly off, but part of its top row shows
      {9000, 3000, {200, 511}},    // just below the screen
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.top << ", " << row.left);
    QtForm form(Design());
    form.SetTop(row.top);
    form.SetLeft(row.left);
    EXPECT_EQ(form.Top(), row.top) << "placed as asked until it shows";
    form.Show();
    EXPECT_EQ(form.Window().pos(), row.shown);
    EXPECT_EQ(form.Top(), float(row.shown.y() * kTwipsPerPixel));
    EXPECT_EQ(form.Left(), float(row.shown.x() * kTwipsPerPixel));
  }
}

// Run on a Wayland compositor by the platform_qt_wayland test.
TEST(QtFormOnWayland, ReadsBackThePositionItWasGiven) {
  if (PositionKnown()) GTEST_SKIP() << "needs a Wayland session (ctest -R platform_qt_wayland)";
  // What a close writes back is what the start read, whole pixels or not, on a screen or not.
  for (const float twips : {1500.0f, 1507.0f, -1200.0f, 150000.0f}) {
    SCOPED_TRACE(twips);
    QtForm form(Design());
    form.SetTop(twips);
    form.SetLeft(-twips);
    form.Show();
    EXPECT_TRUE(Eventually([&form] { return form.Window().windowHandle()->isExposed(); }));
    EXPECT_EQ(form.Top(), twips);
    EXPECT_EQ(form.Left(), -twips);
  }
}

TEST(QtEditBox, TheUsualLogLineFitsOneRowWhateverTheDesktopsFont) {
  struct Row {
    const char* family;
    int points;
  };
  const QFont desktop = QApplication::font();
  for (const Row row : {Row{"DejaVu Sans", 9}, Row{"DejaVu Sans", 11}, Row{"DejaVu Serif", 10}}) {
    SCOPED_TRACE(testing::Message() << row.family << " " << row.points);
    QApplication::setFont(QFont(row.family, row.points));
    QtForm form(Design());
    form.Text2().SetText(L"10:51:41 :  11010\r\n10:51:31 :  0\r\n");
    form.Show();
    QCoreApplication::processEvents();
    auto* log = form.Window().findChild<QPlainTextEdit*>("Text2");
    ASSERT_TRUE(log);
    const QTextBlock line = log->document()->firstBlock();
    log->document()->documentLayout()->blockBoundingRect(line);
    EXPECT_EQ(line.layout()->lineCount(), 1) << "the line wraps";
    const qreal room = log->viewport()->width() - 2 * log->document()->documentMargin();
    EXPECT_LE(QFontMetricsF(log->font()).horizontalAdvance(line.text()), room);
    EXPECT_LE(log->font().pointSizeF(), 8.0) << "the design's 8-point font at most";
    EXPECT_EQ(form.Window().size(), QSize(104, 89));
  }
  QApplication::setFont(desktop);
}

TEST(CaretRest, StopsBlinkingWithoutInputAndBlinksAgainOnInput) {
  const int blink = QApplication::cursorFlashTime();
  ASSERT_GT(blink, 0);
  QtForm form(Design());
  form.Show();
  QWidget* box = form.Window().findChild<QLineEdit*>("Text1");
  struct Row {
    const char* what;
    std::function<QEvent*()> input;
  };
  const Row rows[] = {
      {"a key", [] { return new QKeyEvent(QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier); }},
      {"a click",
       [] {
         return new QMouseEvent(QEvent::MouseButtonPress, QPointF(2, 2), QPointF(2, 2),
                                Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
       }},
  };
  CaretRest rest(std::chrono::milliseconds(50));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_TRUE(Eventually([] { return QApplication::cursorFlashTime() == 0; }))
        << "still blinks with nobody typing";
    std::unique_ptr<QEvent> input(row.input());
    QCoreApplication::sendEvent(box, input.get());
    EXPECT_EQ(QApplication::cursorFlashTime(), blink);
  }
}

}  // namespace
}  // namespace platform::qt
