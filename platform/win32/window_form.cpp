#include "platform/win32/window_form.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "platform/common/window_position.h"

namespace platform {

Win32Form::Win32Form(HWND window, HWND text1, HWND text2, HICON small_icon, HICON big_icon)
    : window_(window),
      text1_(text1),
      text2_(text2),
      timer_(window),
      small_icon_(small_icon),
      big_icon_(big_icon) {
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon_));
  SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_icon_));
}

Win32Form::~Win32Form() {
  if (IsWindow(window_)) {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
  DestroyIcon(small_icon_);
  DestroyIcon(big_icon_);
  if (font_) DeleteObject(font_);
}

float Win32Form::Top() const {
  RECT frame;
  GetWindowRect(window_, &frame);
  return static_cast<float>(frame.top * kTwipsPerPixel);
}

float Win32Form::Left() const {
  RECT frame;
  GetWindowRect(window_, &frame);
  return static_cast<float>(frame.left * kTwipsPerPixel);
}

void Win32Form::SetTop(float twips) {
  RECT frame;
  GetWindowRect(window_, &frame);
  Place(frame.left, PositionPixels("top", twips));
}

void Win32Form::SetLeft(float twips) {
  RECT frame;
  GetWindowRect(window_, &frame);
  Place(PositionPixels("left", twips), frame.top);
}

void Win32Form::KeepReachable() {
  RECT frame;
  GetWindowRect(window_, &frame);
  POINT client{0, 0};
  ClientToScreen(window_, &client);
  const RECT title{frame.left, frame.top, frame.right, std::max(client.y, frame.top + 1)};
  if (MonitorFromRect(&title, MONITOR_DEFAULTTONULL) != nullptr) return;
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (!GetMonitorInfoW(MonitorFromRect(&frame, MONITOR_DEFAULTTONEAREST), &monitor)) return;
  // Wholly inside the work area, as near to where it was as that allows.
  const RECT& work = monitor.rcWork;
  const auto within = [](LONG at, LONG size, LONG low, LONG high) {
    return std::max(low, std::min(at, high - size));
  };
  Place(within(frame.left, frame.right - frame.left, work.left, work.right),
        within(frame.top, frame.bottom - frame.top, work.top, work.bottom));
}

void Win32Form::Place(int left, int top) {
  SetWindowPos(window_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

std::wstring Win32Form::Caption() const {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window_)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      GetWindowTextW(window_, text.data(), static_cast<int>(text.size()))));
  return text;
}

// Handles are 32-bit values on 64-bit Windows too; the shell takes them back sign-extended.
std::uint32_t Win32Form::Hwnd() const {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(window_));
}

std::uint32_t Win32Form::Icon() const {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(small_icon_));
}

void Win32Form::SetIconFromFile(const std::wstring& path) {
  const HICON small_icon = LoadIconFile(path, GetSystemMetrics(SM_CXSMICON));
  HICON big_icon;
  try {
    big_icon = LoadIconFile(path, GetSystemMetrics(SM_CXICON));
  } catch (...) {
    DestroyIcon(small_icon);
    throw;
  }
  SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon));
  SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_icon));
  DestroyIcon(std::exchange(small_icon_, small_icon));
  DestroyIcon(std::exchange(big_icon_, big_icon));
}

void Win32Form::Show() {
  KeepReachable();
  ShowWindow(window_, IsIconic(window_) ? SW_RESTORE : SW_SHOW);
  SetForegroundWindow(window_);
}

}  // namespace platform
