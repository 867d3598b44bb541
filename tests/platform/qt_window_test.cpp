// What the Qt window does beyond the contract that every backend keeps: boxes built late, the
// icon table, the tray entries' keys and the choice of X under Wayland.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <map>
#include <string>
#include <vector>

#include "monitor/monitor_window.h"
#include "platform/notify.h"
#include "platform/qt/backend.h"
#include "platform/qt/window_form.h"
#include "tests/platform/window_contract.h"

namespace platform::qt {
namespace {

// The window as korvi designs it.
FormDesign Design() {
  return Form1::Design();
}

using window_contract::Asset;

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

TEST(ShellNotifyIcon, KeysEntriesByWindowAndId) {
  struct Step {
    std::uint32_t message;
    std::uint32_t id;
    bool accepted;
  };
  const Step steps[] = {
      {kNimModify, 100, false}, {kNimDelete, 100, false}, {kNimAdd, 100, true},
      {kNimAdd, 100, false},    {kNimAdd, 101, true},     {kNimModify, 100, true},
      {kNimDelete, 100, true},  {kNimModify, 100, false}, {kNimModify, 101, true},
      {kNimAdd, 100, true},     {7, 100, false},
  };
  QtForm form(Design());
  for (const Step& step : steps) {
    NotifyIconData data{};
    data.cbSize = sizeof data;
    data.hWnd = form.Hwnd();
    data.uID = step.id;
    data.uFlags = kNifIcon;
    data.hIcon = form.Icon();
    EXPECT_EQ(Shell_NotifyIconA(step.message, &data), step.accepted)
        << "message " << step.message << " id " << step.id;
  }
  EXPECT_EQ(TrayEntryCount(), 2u);
  EXPECT_FALSE(Shell_NotifyIconA(kNimAdd, nullptr));
  RemoveTrayEntries(form.Hwnd());
  EXPECT_EQ(TrayEntryCount(), 0u);
}

TEST(QtForm, DropsAnotherWindowsMessage) {
  QtForm form(Design());
  window_contract::RecordingEvents events;
  form.Attach(&events);
  DeliverWindowMessage(form.Hwnd(), 512, 514);
  DeliverWindowMessage(form.Hwnd() + 1, 512, 514);
  EXPECT_EQ(events.mouse_x, std::vector<float>{7710});
}

TEST(Application, UsesXWaylandWhereTheWindowCouldNotBePlaced) {
  struct Row {
    std::map<std::string, std::string> env;
    std::string forced;
  };
  const Row rows[] = {
      {{}, ""},
      {{{"DISPLAY", ":0"}}, ""},
      {{{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}}, "xcb"},
      {{{"XDG_SESSION_TYPE", "wayland"}, {"DISPLAY", ":0"}}, "xcb"},
      {{{"WAYLAND_DISPLAY", "wayland-0"}}, ""},  // no XWayland to go to
      {{{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "wayland"}}, ""},
      {{{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", ""}}, "xcb"},
      {{{"WAYLAND_DISPLAY", ""}, {"DISPLAY", ":0"}, {"XDG_SESSION_TYPE", "x11"}}, ""},
  };
  for (const Row& row : rows) {
    const auto env = [&row](const char* name) -> const char* {
      const auto it = row.env.find(name);
      return it == row.env.end() ? nullptr : it->second.c_str();
    };
    EXPECT_EQ(ForcedPlatform(env), row.forced) << ::testing::PrintToString(row.env);
  }
}

}  // namespace
}  // namespace platform::qt
