#include "platform/win32/window_form.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "platform/common/window_position.h"

namespace platform {
namespace {

// The program's own icon in its resources, shown until the first probe result.
constexpr int kProgramIconId = 1;
// IDI_APPLICATION, in the wide form that the W calls take.
const auto kApplicationIcon = MAKEINTRESOURCEW(32512);

HICON ProgramIcon(int size) {
  const auto icon = static_cast<HICON>(LoadImageW(
      GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kProgramIconId), IMAGE_ICON, size, size, 0));
  return icon ? icon : CopyIcon(LoadIconW(nullptr, kApplicationIcon));
}

}  // namespace

Win32Form::Win32Form(HWND window, HWND text1, HWND text2, const FormDesign& design)
    : window_(window),
      text1_(text1),
      text2_(text2),
      timer_(window),
      client_width_(design.client_width),
      client_height_(design.client_height),
      text1_design_(design.text1),
      text2_design_(design.text2) {
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  Layout(GetDpiForWindow(window_), nullptr);
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

int Win32Form::Pixels(int twips) const {
  return MulDiv(twips, static_cast<int>(dpi_), kTwipsPerInch);
}

// Whole twips: at any scale up to 1440 pixels to the inch they turn back into the same pixel,
// so a position read and set again stays where it is.
float Win32Form::Twips(LONG pixels) const {
  return static_cast<float>(std::round(pixels * static_cast<double>(kTwipsPerInch) / dpi_));
}

SIZE Win32Form::FrameSize(UINT dpi) const {
  RECT frame{0, 0, MulDiv(client_width_, static_cast<int>(dpi), kTwipsPerInch),
             MulDiv(client_height_, static_cast<int>(dpi), kTwipsPerInch)};
  AdjustWindowRectExForDpi(&frame, static_cast<DWORD>(GetWindowLongW(window_, GWL_STYLE)), FALSE,
                           static_cast<DWORD>(GetWindowLongW(window_, GWL_EXSTYLE)), dpi);
  return {frame.right - frame.left, frame.bottom - frame.top};
}

void Win32Form::Layout(UINT dpi, const RECT* proposed) {
  dpi_ = dpi;
  if (proposed) {
    SetWindowPos(window_, nullptr, proposed->left, proposed->top, proposed->right - proposed->left,
                 proposed->bottom - proposed->top, SWP_NOZORDER | SWP_NOACTIVATE);
  } else {
    const SIZE frame = FrameSize(dpi);
    SetWindowPos(window_, nullptr, 0, 0, frame.cx, frame.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  // Edges from the design's edges, so that the boxes keep their overlap at every scale.
  for (const auto& [edit, design] :
       {std::pair{text1_.handle(), text1_design_}, std::pair{text2_.handle(), text2_design_}}) {
    const int left = Pixels(design.left);
    const int top = Pixels(design.top);
    SetWindowPos(edit, nullptr, left, top, Pixels(design.left + design.width) - left,
                 Pixels(design.top + design.height) - top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  const bool text1_logs = text1_design_.multi_line;
  const HFONT font = FitBoxFont(text1_logs ? text1_.handle() : text2_.handle(),
                                text1_logs ? text2_.handle() : text1_.handle(), dpi_);
  if (font_) DeleteObject(font_);
  font_ = font;
  InvalidateRect(window_, nullptr, TRUE);
  LoadIcons(icon_file_);
}

void Win32Form::LoadIcons(const std::optional<std::wstring>& file) {
  const auto load = [&file](int metric, UINT dpi) {
    const int size = GetSystemMetricsForDpi(metric, dpi);
    return file ? LoadIconFile(*file, size) : ProgramIcon(size);
  };
  const HICON small_icon = load(SM_CXSMICON, dpi_);
  HICON big_icon;
  try {
    big_icon = load(SM_CXICON, dpi_);
  } catch (...) {
    DestroyIcon(small_icon);
    throw;
  }
  SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon));
  SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_icon));
  if (small_icon_) DestroyIcon(small_icon_);
  if (big_icon_) DestroyIcon(big_icon_);
  small_icon_ = small_icon;
  big_icon_ = big_icon;
  icon_file_ = file;
}

RECT Win32Form::NormalFrame() const {
  RECT frame;
  if (!IsIconic(window_) && !IsZoomed(window_)) {
    GetWindowRect(window_, &frame);
    return frame;
  }
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  GetWindowPlacement(window_, &placement);
  // Screen coordinates, as for every tool window (others' are the work area's).
  return placement.rcNormalPosition;
}

float Win32Form::Top() const {
  return Twips(NormalFrame().top);
}

float Win32Form::Left() const {
  return Twips(NormalFrame().left);
}

void Win32Form::SetTop(float twips) {
  Place(NormalFrame().left, PositionPixels("top", twips, static_cast<int>(dpi_)));
}

void Win32Form::SetLeft(float twips) {
  Place(PositionPixels("left", twips, static_cast<int>(dpi_)), NormalFrame().top);
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

// The small icon, which is the one the tray shows.
std::uint32_t Win32Form::Icon() const {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(small_icon_));
}

void Win32Form::SetIconFromFile(const std::wstring& path) {
  LoadIcons(path);
}

void Win32Form::Show() {
  KeepReachable();
  ShowWindow(window_, IsIconic(window_) ? SW_RESTORE : SW_SHOW);
  SetForegroundWindow(window_);
}

}  // namespace platform
