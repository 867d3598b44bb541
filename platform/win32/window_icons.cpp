#include <string>

#include "platform/ansi.h"
#include "platform/win32/last_error.h"
#include "platform/win32/window_form.h"

namespace platform {

HICON LoadIconFile(const std::wstring& path, int size) {
  const std::string bytes = ToAnsi(path);
  const auto icon = static_cast<HICON>(
      LoadImageA(nullptr, bytes.c_str(), IMAGE_ICON, size, size, LR_LOADFROMFILE));
  if (icon == nullptr) {
    throw RuntimeError("cannot load the icon file \"" + bytes +
                       "\": " + LastErrorText(GetLastError()));
  }
  return icon;
}

void CheckIconFile(const std::wstring& path) {
  DestroyIcon(LoadIconFile(path, GetSystemMetrics(SM_CXSMICON)));
}

}  // namespace platform
