#include <cwctype>
#include <string>

#include "platform/ansi.h"
#include "platform/window.h"

namespace platform {
namespace {

bool SameName(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return true;
}

}  // namespace

PropertyValue GetProperty(const Form& form, std::wstring_view name) {
  if (SameName(name, L"Caption")) return form.Caption();
  // Handles are 32-bit values; the bit pattern is what the shell gets back.
  if (SameName(name, L"hwnd")) return static_cast<std::int32_t>(form.Hwnd());
  if (SameName(name, L"Icon")) return static_cast<std::int32_t>(form.Icon());
  throw RuntimeError("the window has no property \"" + ToAnsi(std::wstring(name)) + "\"");
}

}  // namespace platform
