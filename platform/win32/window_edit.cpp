#include "platform/win32/window_form.h"

#include <string>

namespace platform {

HFONT FitBoxFont(HWND log, HWND address, UINT dpi) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi);
  LOGFONTW design = metrics.lfMessageFont;
  const HDC dc = GetDC(log);
  // The design was drawn for an 8-point UI font: the desktop's at that size, or smaller until
  // the log box shows its usual line on one row.
  const std::wstring line(kUsualLogLine, kUsualLogLine + sizeof kUsualLogLine - 1);
  HFONT font = nullptr;
  const int inch = static_cast<int>(dpi);
  for (int pixels = MulDiv(8, inch, 72); pixels >= MulDiv(6, inch, 72); --pixels) {
    if (font) DeleteObject(font);
    design.lfHeight = -pixels;
    font = CreateFontIndirectW(&design);
    SendMessageW(log, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    RECT text;
    SendMessageW(log, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&text));
    const HGDIOBJ previous = SelectObject(dc, font);
    SIZE size{};
    GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &size);
    SelectObject(dc, previous);
    if (size.cx <= text.right - text.left) break;
  }
  ReleaseDC(log, dc);
  SendMessageW(address, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return font;
}

EditControl::~EditControl() {
  if (brush_) DeleteObject(brush_);
}

std::wstring EditControl::Text() const {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(edit_)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(edit_, text.data(), static_cast<int>(text.size()))));
  return text;
}

void EditControl::SetText(const std::wstring& text) {
  SetWindowTextW(edit_, text.c_str());
}

void EditControl::SetBackColor(std::uint32_t color) {
  // The platform colour and COLORREF share their layout: red in the low byte.
  color_ = static_cast<COLORREF>(color & 0xFFFFFFu);
  if (brush_) DeleteObject(brush_);
  brush_ = CreateSolidBrush(color_);
  InvalidateRect(edit_, nullptr, TRUE);
}

HBRUSH EditControl::Paint(HDC dc) const {
  if (brush_ == nullptr) return nullptr;
  SetBkColor(dc, color_);
  return brush_;
}

}  // namespace platform
