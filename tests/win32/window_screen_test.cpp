// Where the Win32 window comes up and what it shows: a screen the user can reach, the log's
// usual line on one row in the font the boxes are given, the design at each display scale (run
// at each by isolated.sh), and icons that cannot serve a size.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "monitor/monitor_window.h"
#include "platform/ansi.h"
#include "platform/window.h"
#include "tests/platform/window_contract.h"
#include "tests/support/files.h"
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

int IconSize(LPARAM icon) {
  ICONINFO info{};
  GetIconInfo(reinterpret_cast<HICON>(icon), &info);
  BITMAP mask{};
  GetObjectW(info.hbmMask, sizeof mask, &mask);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return mask.bmWidth;
}

// One row per display scale; isolated.sh runs this test at each.
TEST(Win32Scale, TheDesignKeepsItsProportionsAndItsPlace) {
  const struct Row {
    UINT dpi;
    int width;
    window_contract::Box text1, text2;  // the log box ends where the client area does
    std::pair<int, int> icons;          // small (the tray's too) and large
    std::pair<LONG, LONG> frame;        // where left 2250 and top 1800 put it
  } rows[] = {
      {96, 104, {0, 0, 105, 18}, {0, 16, 105, 89, true, true}, {16, 32}, {150, 120}},
      {120, 130, {0, 0, 131, 23}, {0, 20, 131, 111, true, true}, {20, 40}, {188, 150}},
      {144, 156, {0, 0, 158, 27}, {0, 24, 158, 134, true, true}, {24, 48}, {225, 180}},
      {192, 208, {0, 0, 210, 36}, {0, 32, 210, 178, true, true}, {32, 64}, {300, 240}},
  };
  const UINT dpi = GetDpiForSystem();
  const std::string mode = std::getenv("KORVI_ISOLATED") ? std::getenv("KORVI_ISOLATED") : "";
  ASSERT_TRUE(mode.empty() || mode == "dpi=" + std::to_string(dpi)) << "the scale did not take";
  const Row* row = std::find_if(rows, std::end(rows), [dpi](const Row& r) { return r.dpi == dpi; });
  ASSERT_NE(row, std::end(rows)) << dpi;
  const auto form = platform::CreateForm(Form1::Design());
  const HWND window = win32_test::Native(*form);
  form->SetIconFromFile(window_contract::Asset("korvi-up.ico"));
  form->SetTop(1800);
  form->SetLeft(2250);
  const auto icons = [&] {
    return std::pair(IconSize(form->Icon()), IconSize(SendMessageW(window, WM_GETICON, 1, 0)));
  };
  const auto native = window_contract::Inspect(*form);
  EXPECT_EQ(std::pair(native.client_width, native.client_height),
            std::pair(row->width, row->text2.bottom));
  EXPECT_EQ(native.text1, row->text1);
  EXPECT_EQ(native.text2, row->text2);
  EXPECT_EQ(icons(), row->icons);
  RECT frame, again;
  GetWindowRect(window, &frame);
  EXPECT_EQ(std::pair(frame.left, frame.top), row->frame);
  // What a close saves opens the window at the same place again, start after start.
  form->SetTop(form->Top());
  form->SetLeft(form->Left());
  GetWindowRect(window, &again);
  EXPECT_TRUE(EqualRect(&frame, &again));

  // On a monitor at the next scale: the frame Windows proposes, and the boxes and icons anew.
  const Row& next = rows[(row - rows + 1) % std::size(rows)];
  const RECT proposed{10, 20, 300, 250};
  SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(next.dpi, next.dpi),
               reinterpret_cast<LPARAM>(&proposed));
  GetWindowRect(window, &frame);
  EXPECT_TRUE(EqualRect(&frame, &proposed));
  EXPECT_EQ(window_contract::Inspect(*form).text2, next.text2);
  EXPECT_EQ(icons(), next.icons);
}

TEST(Win32Icons, ADamagedSizeStopsTheStartUpCheckWithItsReason) {
  const std::string good =
      ReadBytes(platform::ToAnsi(window_contract::Asset("korvi-up.ico"))).value();
  // The header of the picture that the directory lists `index`th, zeroed.
  const auto zeroed = [&good](int index) {
    std::uint32_t at = 0;
    std::memcpy(&at, &good[18 + 16 * index], 4);
    return std::string(good).replace(at, 40, 40, '\0');
  };
  TempFolder folder;
  for (const auto& [bytes, reason] :
       {std::pair{good.substr(0, 2000),
                  "at 32 pixels: it is cut short: its 20, 24, 32, 40, 48, 64, "
                  "256 pixel pictures end past its 2000 bytes"},
        {zeroed(0), "at 16 pixels: its picture for that size cannot be read"},
        {zeroed(3), "at 32 pixels: its picture for that size cannot be read"}}) {
    WriteBytes(folder / "damaged.ico", bytes);
    try {
      platform::CheckIconFile(platform::FromAnsi(folder / "damaged.ico"));
      ADD_FAILURE() << "passed: " << reason;
    } catch (const platform::RuntimeError& e) {
      EXPECT_TRUE(std::string(e.what()).ends_with(std::string("damaged.ico\" ") + reason))
          << e.what();
    }
  }
}

}  // namespace
