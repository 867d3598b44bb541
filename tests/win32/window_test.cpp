// The Win32 window behind the program's Form, on Wine's real user32 and X server.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <string>

#include "monitor/monitor_window.h"
#include "platform/ansi.h"
#include "platform/window.h"
#include "tests/win32/window_test_support.h"

namespace {

namespace fs = std::filesystem;
using win32_test::Native;
using win32_test::PressClose;
using win32_test::RecordingEvents;

class Win32WindowTest : public ::testing::Test {
 protected:
  void SetUp() override { form_ = platform::CreateForm(Form1::Design()); }
  HWND window() const { return Native(*form_); }

  std::unique_ptr<platform::Form> form_;
};

RECT ClientRectOf(HWND child) {
  RECT rect;
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

TEST_F(Win32WindowTest, LaidOutAsDesigned) {
  const LONG style = GetWindowLongW(window(), GWL_STYLE);
  const LONG ex_style = GetWindowLongW(window(), GWL_EXSTYLE);
  EXPECT_TRUE(ex_style & WS_EX_TOOLWINDOW);
  EXPECT_TRUE(style & WS_CAPTION);
  EXPECT_TRUE(style & WS_SYSMENU) << "no close button";
  EXPECT_FALSE(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
  EXPECT_EQ(form_->Caption(), L"B");

  RECT client;
  GetClientRect(window(), &client);
  EXPECT_EQ(client.right, 104);
  EXPECT_EQ(client.bottom, 89);

  const HWND text1 = FindWindowExW(window(), nullptr, L"EDIT", nullptr);
  const HWND text2 = FindWindowExW(window(), text1, L"EDIT", nullptr);
  ASSERT_TRUE(text1 && text2);
  // Both boxes are a pixel wider than the client area, and overlap by two pixels.
  const struct {
    HWND edit;
    RECT rect;
    bool multi_line;
  } boxes[] = {{text1, {0, 0, 105, 18}, false}, {text2, {0, 16, 105, 89}, true}};
  for (const auto& box : boxes) {
    const RECT rect = ClientRectOf(box.edit);
    EXPECT_EQ(rect.left, box.rect.left);
    EXPECT_EQ(rect.top, box.rect.top);
    EXPECT_EQ(rect.right, box.rect.right);
    EXPECT_EQ(rect.bottom, box.rect.bottom);
    const LONG edit_style = GetWindowLongW(box.edit, GWL_STYLE);
    EXPECT_EQ((edit_style & ES_MULTILINE) != 0, box.multi_line);
    EXPECT_EQ((edit_style & WS_VSCROLL) != 0, box.multi_line);
  }
  EXPECT_EQ(GetNextDlgTabItem(window(), text1, FALSE), text2);
}

TEST_F(Win32WindowTest, TheUsualLogLineFitsOneRow) {
  const HWND text1 = FindWindowExW(window(), nullptr, L"EDIT", nullptr);
  const HWND text2 = FindWindowExW(window(), text1, L"EDIT", nullptr);
  const std::wstring line(platform::kUsualLogLine,
                          platform::kUsualLogLine + sizeof platform::kUsualLogLine - 1);
  form_->Text2().SetText(line);
  EXPECT_EQ(SendMessageW(text2, EM_GETLINECOUNT, 0, 0), 1) << "the line wraps";
  RECT text;
  SendMessageW(text2, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&text));
  const HDC dc = GetDC(text2);
  const auto font = reinterpret_cast<HFONT>(SendMessageW(text2, WM_GETFONT, 0, 0));
  ASSERT_NE(font, nullptr);
  SelectObject(dc, font);
  SIZE size{};
  GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &size);
  ReleaseDC(text2, dc);
  EXPECT_LE(size.cx, text.right - text.left);
  EXPECT_EQ(SendMessageW(text1, WM_GETFONT, 0, 0), reinterpret_cast<LRESULT>(font));
}

TEST_F(Win32WindowTest, PositionIsKeptInWholePixels) {
  const struct {
    float twips;
    float kept;
  } cases[] = {
      {1500, 1500}, {1507, 1500}, {1508, 1515}, {-1200, -1200}, {0, 0}, {491505, 491505},
  };
  for (const auto& c : cases) {
    form_->SetTop(c.twips);
    form_->SetLeft(c.twips - 15);
    EXPECT_EQ(form_->Top(), c.kept) << c.twips;
    EXPECT_EQ(form_->Left(), c.kept - 15) << c.twips;
  }
  RECT frame;
  GetWindowRect(window(), &frame);
  EXPECT_EQ(frame.top, 491505 / 15);
}

TEST_F(Win32WindowTest, PositionsNoScreenCanHoldAreRefused) {
  for (const float twips : {491520.0f, -491520.0f, 1e9f, std::numeric_limits<float>::infinity(),
                            std::numeric_limits<float>::quiet_NaN()}) {
    form_->SetTop(300);
    EXPECT_THROW(form_->SetTop(twips), platform::RuntimeError) << twips;
    EXPECT_THROW(form_->SetLeft(twips), platform::RuntimeError) << twips;
    EXPECT_EQ(form_->Top(), 300.0f) << "moved by a refused value";
  }
}

TEST_F(Win32WindowTest, ComesUpWhereTheUserCanReachIt) {
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  ASSERT_TRUE(GetMonitorInfoW(MonitorFromWindow(window(), MONITOR_DEFAULTTOPRIMARY), &monitor));
  const RECT work = monitor.rcWork;
  const struct {
    float top, left;  // twips
    bool stays;
  } rows[] = {
      {1800, 2250, true},
      {-150000, 150000, false},  // where a second monitor was, up and to the right
      {-1500, 2250, false},      // above the screen by more than the window's height
      {1800, -1500, true},       // mostly off the left edge, the title bar's end still on it
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.top << ", " << row.left);
    form_->SetTop(row.top);
    form_->SetLeft(row.left);
    form_->Show();
    RECT frame;
    GetWindowRect(window(), &frame);
    if (row.stays) {
      EXPECT_EQ(frame.top * 15, row.top);
      EXPECT_EQ(frame.left * 15, row.left);
    } else {
      EXPECT_TRUE(frame.left >= work.left && frame.right <= work.right && frame.top >= work.top &&
                  frame.bottom <= work.bottom)
          << frame.left << "," << frame.top << " " << frame.right << "," << frame.bottom;
      EXPECT_EQ(frame.top, work.top) << "the nearest place on the screen";
      EXPECT_EQ(form_->Top(), float(frame.top * 15));
      EXPECT_EQ(form_->Left(), float(frame.left * 15));
    }
    ShowWindow(window(), SW_HIDE);
  }
}

TEST_F(Win32WindowTest, IconsComeFromFilesAndAFailureNamesTheFile) {
  const fs::path folder = fs::path(platform::AppPath());
  const std::uint32_t neutral = form_->Icon();
  EXPECT_NE(neutral, 0u) << "no icon before the first probe";

  form_->SetIconFromFile((folder / "korvi-up.ico").wstring());
  const std::uint32_t up = form_->Icon();
  EXPECT_NE(up, neutral);
  EXPECT_EQ(static_cast<std::uint32_t>(SendMessageW(window(), WM_GETICON, ICON_SMALL, 0)), up);

  const fs::path not_an_icon = folder / "not-an-icon.ico";
  std::ofstream(not_an_icon) << "[main]\n";
  for (const fs::path& bad : {folder / "missing.ico", not_an_icon, folder / ""}) {
    try {
      form_->SetIconFromFile(bad.wstring());
      ADD_FAILURE() << "loaded " << bad;
    } catch (const platform::RuntimeError& e) {
      EXPECT_NE(std::string(e.what()).find(platform::ToAnsi(bad.wstring())), std::string::npos)
          << e.what();
    }
    EXPECT_EQ(form_->Icon(), up) << "the icon changed on a failed load of " << bad;
  }
  fs::remove(not_an_icon);
}

TEST_F(Win32WindowTest, EditBoxesKeepWideTextAndTheLogBoxTakesItsColour) {
  const std::wstring text = L"12:00:00 :  0\r\nGr\u00fc\u00dfe \u4e00\r\n";
  form_->Text2().SetText(text);
  EXPECT_EQ(form_->Text2().Text(), text);
  EXPECT_EQ(form_->Text1().Text(), L"");

  form_->Text2().SetBackColor(10 + 256 * 200 + 65536 * 30);
  const HWND text2 =
      FindWindowExW(window(), FindWindowExW(window(), nullptr, L"EDIT", nullptr), L"EDIT", nullptr);
  const HDC dc = CreateCompatibleDC(nullptr);
  const auto brush = reinterpret_cast<HBRUSH>(SendMessageW(
      window(), WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(text2)));
  LOGBRUSH painted{};
  ASSERT_EQ(GetObjectW(brush, sizeof painted, &painted), static_cast<int>(sizeof painted));
  EXPECT_EQ(painted.lbColor, RGB(10, 200, 30));
  EXPECT_EQ(GetBkColor(dc), RGB(10, 200, 30));
  DeleteDC(dc);
}

TEST_F(Win32WindowTest, TicksUntilClosedAndClosesOnlyWhenUnloadAllows) {
  RecordingEvents events;
  events.on_load = [&] { form_->Timer1().SetInterval(20); };
  events.on_tick = [&](int tick) {
    if (tick == 3 || tick == 5) PressClose(window());
  };
  events.on_unload = [&](std::int16_t& cancel) { cancel = events.unloads == 1 ? 1 : 0; };
  const HWND native = window();

  EXPECT_EQ(platform::RunForm(*form_, events), 0);
  EXPECT_EQ(events.loads, 1);
  EXPECT_EQ(events.unloads, 2) << "the first close was cancelled";
  EXPECT_GE(events.ticks, 5);
  EXPECT_FALSE(IsWindow(native));
}

TEST_F(Win32WindowTest, IntervalZeroStopsTheTicksAndANegativeOneIsRefused) {
  EXPECT_THROW(form_->Timer1().SetInterval(-1), platform::RuntimeError);
  EXPECT_EQ(form_->Timer1().Interval(), 10000);

  RecordingEvents events;
  events.on_load = [&] {
    form_->Timer1().SetInterval(0);
    SetTimer(nullptr, 0, 300, [](HWND, UINT, UINT_PTR id, DWORD) {
      KillTimer(nullptr, id);
      PressClose(FindWindowW(L"korvi.Form1", L"B"));
    });
  };
  EXPECT_EQ(platform::RunForm(*form_, events), 0);
  EXPECT_EQ(events.ticks, 0);
}

TEST_F(Win32WindowTest, TrayCallbacksReachTheMouseHandlerAsTwips) {
  RecordingEvents events;
  events.on_load = [&] {
    // As the shell posts them for entry 100: left down, left up, right up.
    for (const LPARAM code : {513, 514, 517}) PostMessageW(window(), 512, 100, code);
    PressClose(window());
  };
  EXPECT_EQ(platform::RunForm(*form_, events), 0);
  EXPECT_EQ(events.mouse_x, (std::vector<float>{7695, 7710, 7755}));
}

TEST_F(Win32WindowTest, AHandlersErrorIsShownAndEndsTheRunWithoutUnload) {
  for (const bool in_load : {true, false}) {
    form_ = platform::CreateForm(Form1::Design());
    RecordingEvents events;
    const std::string message = "C:\\korvi\\korvi.ini, [main] top = \"x\" is not a number";
    events.on_load = [&] {
      if (in_load) throw platform::RuntimeError(message);
      form_->Timer1().SetInterval(20);
    };
    events.on_tick = [&](int) { throw platform::RuntimeError(message); };
    win32_test::ErrorBoxWatcher watcher(window());

    EXPECT_EQ(platform::RunForm(*form_, events), 1);
    EXPECT_EQ(watcher.Text(), message);
    EXPECT_FALSE(watcher.window_was_visible()) << "the ended program still shows its window";
    EXPECT_EQ(events.unloads, 0);
    EXPECT_EQ(events.ticks, in_load ? 0 : 1) << "ticked on after the error";
  }
}

TEST(Win32Process, AppPathIsTheExecutablesFolder) {
  wchar_t module[MAX_PATH];
  GetModuleFileNameW(nullptr, module, MAX_PATH);
  const std::wstring folder = platform::AppPath();
  EXPECT_EQ(folder, fs::path(module).parent_path().wstring());
  EXPECT_NE(folder.back(), L'\\');
  EXPECT_EQ(platform::PathSeparator(), L'\\');
}

}  // namespace
