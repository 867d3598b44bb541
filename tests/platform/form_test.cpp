#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QDir>
#include <QFontMetricsF>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextLayout>
#include <QThread>
#include <QWindow>
#include <cmath>
#include <fstream>
#include <functional>
#include <limits>
#include <optional>

#include "platform/common/window_on_screen.h"

#include "monitor/monitor_window.h"
#include "platform/notify.h"
#include "platform/qt/backend.h"
#include "platform/qt/window_form.h"

namespace platform::qt {
namespace {

// The window as korvi designs it.
FormDesign Design() {
  return Form1::Design();
}

std::wstring Asset(const char* name) {
  return QString(KORVI_ASSETS "/%1").arg(QLatin1String(name)).toStdWString();
}

// Runs the event loop until `done`, for at most 5 s; what `done` says then.
bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 500 && !done(); ++i) {
    QCoreApplication::processEvents();
    QThread::msleep(10);
  }
  return done();
}

// The boxes in the order Tab visits them.
QStringList TabSequence(QWidget& window) {
  QStringList names;
  for (QWidget* w = window.nextInFocusChain(); w != &window; w = w->nextInFocusChain()) {
    if (w->objectName().startsWith("Text")) names << w->objectName();
  }
  return names;
}

TEST(QtForm, LaysOutTheDesignInPixels) {
  QtForm form(Design());
  form.Show();
  QWidget& window = form.Window();
  EXPECT_EQ(window.size(), QSize(104, 89));
  EXPECT_EQ(window.minimumSize(), window.maximumSize()) << "the window must not be sizable";
  const Qt::WindowFlags flags = window.windowFlags();
  EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Tool);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
  EXPECT_EQ(form.Caption(), L"B");

  auto* text1 = window.findChild<QLineEdit*>("Text1");
  auto* text2 = window.findChild<QPlainTextEdit*>("Text2");
  ASSERT_TRUE(text1 && text2);
  // Wider than the client area, and overlapping by two pixels: as designed.
  EXPECT_EQ(text1->geometry(), QRect(0, 0, 105, 18));
  EXPECT_EQ(text2->geometry(), QRect(0, 16, 105, 73));
  EXPECT_EQ(text2->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(TabSequence(window), QStringList({"Text1", "Text2"}));
  EXPECT_NE(form.Hwnd(), 0u);
  EXPECT_NE(form.Icon(), 0u) << "the first icon has a handle like any other";
}

TEST(QtForm, TabOrderFollowsTheDesign) {
  FormDesign design = Design();
  design.text1.tab_index = 1;
  design.text2.tab_index = 0;
  QtForm form(design);
  form.Show();
  EXPECT_EQ(TabSequence(form.Window()), QStringList({"Text2", "Text1"}));
}

TEST(QtForm, PlacesTheWindowInWholePixels) {
  struct Row {
    float twips;
    float read_back;  // NaN: refused
  };
  const float refused = std::numeric_limits<float>::quiet_NaN();
  const Row rows[] = {
      {1500, 1500},       {-1200, -1200},
      {22, 15},  // the screen has whole pixels only
      {491505, 491505},   {491520, refused},
      {-491520, refused}, {std::numeric_limits<float>::infinity(), refused},
      {refused, refused},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.twips);
    QtForm form(Design());
    form.SetTop(300);
    form.SetLeft(450);
    if (std::isnan(row.read_back)) {
      EXPECT_THROW(form.SetTop(row.twips), RuntimeError);
      EXPECT_THROW(form.SetLeft(row.twips), RuntimeError);
      EXPECT_EQ(form.Top(), 300);
      EXPECT_EQ(form.Left(), 450);
    } else {
      form.SetTop(row.twips);
      EXPECT_EQ(form.Top(), row.read_back);
      EXPECT_EQ(form.Left(), 450) << "setting the top keeps the left";
      form.SetLeft(row.twips);
      EXPECT_EQ(form.Left(), row.read_back);
      EXPECT_EQ(form.Top(), row.read_back);
    }
  }
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

TEST(QtEditBox, KeepsCrLfLineEnds) {
  struct Row {
    std::wstring set;
    std::wstring read;
  };
  const Row rows[] = {
      {L"", L""},
      {L"12:00:01 :  0\r\n", L"12:00:01 :  0\r\n"},
      {L"a\r\nb\r\n\r\nc", L"a\r\nb\r\n\r\nc"},
      {L"a\nb", L"a\r\nb"},  // a bare line feed still ends a line
  };
  QtForm form(Design());
  for (const Row& row : rows) {
    form.Text2().SetText(row.set);
    EXPECT_EQ(form.Text2().Text(), row.read);
  }
  form.Text1().SetText(L" 127.0.0.1 ");
  EXPECT_EQ(form.Text1().Text(), L" 127.0.0.1 ");
}

TEST(QtEditBox, KeepsWhatItGotBeforeTheWindowShowed) {
  // The boxes are built as the window first shows; text and colour given before then must
  // reach them, and a read before then must see what a built box would give.
  struct Row {
    bool show_first;
    bool read_first;
  };
  for (const Row row : {Row{false, false}, Row{false, true}, Row{true, false}}) {
    SCOPED_TRACE(testing::Message() << row.show_first << row.read_first);
    QtForm form(Design());
    if (row.show_first) form.Show();
    form.Text1().SetText(L"127.0.0.1");
    form.Text1().SetBackColor(0x0000FF);
    form.Text2().SetText(L"a\nb");
    form.Text2().SetBackColor(0x90EE90);
    if (row.read_first) {
      EXPECT_EQ(form.Text2().Text(), L"a\r\nb");
    }
    EXPECT_EQ(form.Window().findChild<QWidget*>("Text1") != nullptr,
              row.show_first || row.read_first)
        << "a box is built when the window shows or its text is read, not before";
    form.Show();
    auto* text1 = form.Window().findChild<QLineEdit*>("Text1");
    auto* text2 = form.Window().findChild<QPlainTextEdit*>("Text2");
    ASSERT_TRUE(text1 && text2);
    EXPECT_EQ(text1->text(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(text1->palette().color(QPalette::Base), QColor(255, 0, 0));
    EXPECT_EQ(text2->toPlainText(), QStringLiteral("a\nb"));
    EXPECT_EQ(text2->viewport()->palette().color(QPalette::Base), QColor(144, 238, 144));
    EXPECT_EQ(form.Text2().Text(), L"a\r\nb");
    EXPECT_EQ(form.Window().focusWidget(), text1) << "the first box in tab order has the focus";
    text2->setFocus();
    form.Show();
    EXPECT_EQ(form.Window().focusWidget(), text2) << "showing the window again keeps the focus";
  }
}

TEST(QtTimer, TicksOnlyWhileRunningWithAPositiveInterval) {
  QtTimer timer(10000, true);
  EXPECT_FALSE(timer.Ticker().isActive()) << "no tick before the window runs";
  timer.Run(true);
  EXPECT_TRUE(timer.Ticker().isActive());
  EXPECT_THROW(timer.SetInterval(-1), RuntimeError);
  EXPECT_EQ(timer.Interval(), 10000);
  timer.SetInterval(0);
  EXPECT_FALSE(timer.Ticker().isActive());
  timer.SetInterval(20);
  EXPECT_TRUE(timer.Ticker().isActive());
  EXPECT_EQ(timer.Ticker().interval(), 20);
  timer.Run(false);
  EXPECT_FALSE(timer.Ticker().isActive());

  QtTimer disabled(100, false);
  disabled.Run(true);
  EXPECT_FALSE(disabled.Ticker().isActive());
}

TEST(QtForm, RefusesFilesThatAreNotIcons) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString folder = dir.path();
  auto write = [&](const char* name, const std::string& bytes) {
    std::ofstream(QDir(folder).filePath(name).toStdString(), std::ios::binary) << bytes;
    return QDir(folder).filePath(name).toStdWString();
  };
  QImage png(8, 8, QImage::Format_ARGB32);
  png.fill(Qt::red);
  png.save(folder + "/picture.png");
  struct Row {
    std::wstring path;
    std::string reason;
  };
  const Row rows[] = {
      {folder.toStdWString() + L"/missing.ico", "No such file or directory"},
      {folder.toStdWString() + L"/", "folder"},
      {L"", "no file name"},
      {write("empty.ico", ""), "not an icon"},
      {write("junk.ico", std::string("\0\0\1\0\xff\xff junk", 12)), "not an icon"},
      {write("text.ico", "[main]\ntop=1\n"), "not an icon"},
      {(folder + "/picture.png").toStdWString(), "not an icon"},
  };
  QtForm form(Design());
  const std::uint32_t before = form.Icon();
  for (const Row& row : rows) {
    try {
      form.SetIconFromFile(row.path);
      ADD_FAILURE() << "loaded " << QString::fromStdWString(row.path).toStdString();
    } catch (const RuntimeError& e) {
      const std::string what = e.what();
      EXPECT_NE(what.find("\"" + QString::fromStdWString(row.path).toStdString() + "\""),
                std::string::npos)
          << what;
      EXPECT_NE(what.find(row.reason), std::string::npos) << what;
    }
    EXPECT_EQ(form.Icon(), before) << "a failed load keeps the icon";
  }
}

TEST(QtForm, LoadsIconsAndFreesUnusedHandles) {
  QtForm form(Design());
  NotifyIconData data{};
  data.cbSize = sizeof data;
  data.hWnd = form.Hwnd();
  data.uID = 100;
  data.uFlags = kNifIcon;
  data.hIcon = form.Icon();
  ASSERT_TRUE(Shell_NotifyIconA(kNimAdd, &data));
  const std::size_t table = Icons().Size();

  for (int i = 0; i < 2000; ++i) {
    const std::uint32_t previous = form.Icon();
    form.SetIconFromFile(Asset(i % 2 ? "korvi-up.ico" : "korvi-down.ico"));
    ASSERT_NE(form.Icon(), previous);
    data.hIcon = form.Icon();
    ASSERT_TRUE(Shell_NotifyIconA(kNimModify, &data));
  }
  EXPECT_EQ(Icons().Size(), table);
  const QIcon shown = Icons().Find(form.Icon());
  EXPECT_TRUE(shown.availableSizes().contains(QSize(16, 16)));
  EXPECT_TRUE(shown.availableSizes().contains(QSize(32, 32)));

  ASSERT_TRUE(Shell_NotifyIconA(kNimDelete, &data));
  form.SetIconFromFile(Asset("korvi-up.ico"));
  EXPECT_EQ(Icons().Size(), table) << "the entry's icon goes with the entry";
}

}  // namespace
}  // namespace platform::qt
