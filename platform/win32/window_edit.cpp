#include "platform/win32/window_form.h"

namespace platform {

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
