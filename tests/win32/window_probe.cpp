// The window contract's view of the Win32 backend, and the helpers the other Win32 window tests
// share.
#include "tests/win32/window_probe.h"

#include <gtest/gtest.h>
#include <io.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>

#include "platform/ansi.h"
#include "tests/platform/window_contract.h"

namespace win32_test {

HWND Native(const platform::Form& form) {
  return reinterpret_cast<HWND>(static_cast<std::intptr_t>(static_cast<std::int32_t>(form.Hwnd())));
}

void PressClose(HWND window) {
  PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
}

ErrorBoxWatcher::ErrorBoxWatcher(HWND window, std::function<void()> at_box)
    : window_(window), at_box_(std::move(at_box)) {
  thread_ = std::thread([this] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      if (const HWND box = FindWindowW(L"#32770", L"korvi")) {
        window_was_visible_ = IsWindowVisible(window_) != FALSE;
        wchar_t text[1024] = {};
        GetDlgItemTextW(box, 0xFFFF, text, 1024);
        text_ = platform::ToAnsi(text);
        if (at_box_) at_box_();
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        return;
      }
      Sleep(20);
    }
  });
}

ErrorBoxWatcher::~ErrorBoxWatcher() {
  if (thread_.joinable()) thread_.join();
}

std::string ErrorBoxWatcher::Text() {
  if (thread_.joinable()) thread_.join();
  return text_;
}

}  // namespace win32_test

namespace window_contract {
namespace {

using win32_test::Native;

// The edit controls carry the ids the backend gives them: 1 for Text1, 2 for Text2.
Box BoxOf(HWND window, int id) {
  const HWND edit = GetDlgItem(window, id);
  if (edit == nullptr) return {};
  RECT rect;
  GetWindowRect(edit, &rect);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
  const LONG style = GetWindowLongW(edit, GWL_STYLE);
  return {rect.left,
          rect.top,
          rect.right,
          rect.bottom,
          (style & ES_MULTILINE) != 0,
          (style & WS_VSCROLL) != 0};
}

}  // namespace

const bool kExplainsIconFailures = false;

NativeWindow Inspect(platform::Form& form) {
  const HWND window = Native(form);
  const LONG style = GetWindowLongW(window, GWL_STYLE);
  RECT client;
  GetClientRect(window, &client);
  NativeWindow native;
  native.client_width = client.right;
  native.client_height = client.bottom;
  native.tool_window = (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0;
  native.sizable = (style & WS_THICKFRAME) != 0;
  native.close_button = (style & WS_CAPTION) == WS_CAPTION && (style & WS_SYSMENU) != 0;
  native.minimize_or_maximize = (style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) != 0;
  native.text1 = BoxOf(window, 1);
  native.text2 = BoxOf(window, 2);
  const HWND first = GetNextDlgTabItem(window, nullptr, FALSE);
  for (HWND item = first; item != nullptr && native.tab_order.size() < 2;) {
    native.tab_order.push_back("Text" + std::to_string(GetDlgCtrlID(item)));
    item = GetNextDlgTabItem(window, item, FALSE);
    if (item == first) break;
  }
  return native;
}

std::uint32_t LogBackColor(platform::Form& form) {
  const HWND window = Native(form);
  const HDC dc = CreateCompatibleDC(nullptr);
  SendMessageW(window, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
               reinterpret_cast<LPARAM>(GetDlgItem(window, 2)));
  // COLORREF and the program's colour share their layout: red in the low byte.
  const COLORREF painted = GetBkColor(dc);
  DeleteDC(dc);
  return painted;
}

std::wstring Asset(const char* name) {
  return platform::AppPath() + L"\\" + platform::FromAnsi(name);
}

void PressClose(platform::Form& form, int after_ms) {
  if (after_ms == 0) return win32_test::PressClose(Native(form));
  static HWND pending = nullptr;
  pending = Native(form);
  SetTimer(nullptr, 0, static_cast<UINT>(after_ms), [](HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    win32_test::PressClose(pending);
  });
}

void SendTrayMessage(platform::Form& form, std::uint32_t message, std::uint32_t code) {
  PostMessageW(Native(form), message, 100, static_cast<LPARAM>(code));
}

Outcome RunAnswering(platform::Form& form, platform::FormEvents& events) {
  Outcome outcome;
  win32_test::ErrorBoxWatcher watcher(Native(form));
  std::fflush(stderr);
  std::FILE* file = std::tmpfile();
  const int saved = _dup(_fileno(stderr));
  _dup2(_fileno(file), _fileno(stderr));
  outcome.status = platform::RunForm(form, events);
  std::fflush(stderr);
  _dup2(saved, _fileno(stderr));
  _close(saved);
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) outcome.standard_error += static_cast<char>(c);
  std::fclose(file);
  outcome.box = watcher.Text();
  EXPECT_FALSE(watcher.window_was_visible()) << "the ended program still shows its window";
  return outcome;
}

}  // namespace window_contract

namespace {

TEST(Win32Process, AppPathIsTheExecutablesFolder) {
  wchar_t module[MAX_PATH];
  GetModuleFileNameW(nullptr, module, MAX_PATH);
  const std::wstring folder = platform::AppPath();
  EXPECT_EQ(folder, std::filesystem::path(module).parent_path().wstring());
  EXPECT_NE(folder.back(), L'\\');
  EXPECT_EQ(platform::PathSeparator(), L'\\');
}

}  // namespace
