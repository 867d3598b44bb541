// Where the Win32 window comes up and what it shows: a screen the user can reach, and the log's
// usual line on one row in the font the boxes are given.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "monitor/monitor_window.h"
#include "platform/window.h"
#include "tests/win32/window_probe.h"

namespace {

class Win32WindowTest : public ::testing::Test {
 protected:
  void SetUp() override { form_ = platform::CreateForm(Form1::Design()); }
  HWND window() const { return win32_test::Native(*form_); }

  std::unique_ptr<platform::Form> form_;
};

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

}  // namespace
