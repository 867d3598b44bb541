#include <shellscalingapi.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "platform/win32/last_error.h"
#include "platform/win32/window_form.h"

namespace platform {
namespace {

std::uint32_t Little(const std::string& bytes, std::size_t at, int length) {
  std::uint32_t value = 0;
  for (int i = length - 1; i >= 0; --i)
    value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
  return value;
}

// Why an icon file gave no picture where the system's loader does not say: read from its header
// and its directory of pictures.
std::string Unexplained(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const std::size_t count = bytes.size() < 6 ? 0 : Little(bytes, 4, 2);
  if (count == 0 || Little(bytes, 0, 2) != 0 || Little(bytes, 2, 2) != 1) {
    return "it is not an icon file";
  }
  if (bytes.size() < 6 + 16 * count) return "it is cut short inside its list of pictures";
  std::string cut;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t entry = 6 + 16 * i;
    if (std::uint64_t{Little(bytes, entry + 12, 4)} + Little(bytes, entry + 8, 4) > bytes.size()) {
      const std::uint32_t width = Little(bytes, entry, 1);
      cut += (cut.empty() ? "" : ", ") + std::to_string(width == 0 ? 256 : width);
    }
  }
  if (!cut.empty()) {
    return "it is cut short: its " + cut + " pixel pictures end past its " +
           std::to_string(bytes.size()) + " bytes";
  }
  return "its picture for that size cannot be read";
}

// The scales of the monitors attached now: korvi's window may be on any of them.
std::set<UINT> Scales() {
  std::set<UINT> scales{GetDpiForSystem()};
  EnumDisplayMonitors(
      nullptr, nullptr,
      [](HMONITOR monitor, HDC, LPRECT, LPARAM found) {
        UINT x = 0, y = 0;
        if (GetDpiForMonitor(monitor, MDT_EFFECTIVE_DPI, &x, &y) == S_OK)
          reinterpret_cast<std::set<UINT>*>(found)->insert(y);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&scales));
  return scales;
}

}  // namespace

HICON LoadIconFile(const std::wstring& path, int size) {
  SetLastError(ERROR_SUCCESS);
  const auto icon = static_cast<HICON>(
      LoadImageW(nullptr, path.c_str(), IMAGE_ICON, size, size, LR_LOADFROMFILE));
  if (icon == nullptr) {
    const DWORD error = GetLastError();
    throw RuntimeError(
        "cannot load the icon file \"" + Utf8(path) + "\" at " + std::to_string(size) +
        " pixels: " + (error != ERROR_SUCCESS ? LastErrorText(error) : Unexplained(path)));
  }
  return icon;
}

// Every size the window and the tray entry may ask for, small and large, at every monitor's
// scale: a picture that cannot serve one stops korvi at start-up, not at the first change.
void CheckIconFile(const std::wstring& path) {
  std::set<int> sizes;
  for (const UINT dpi : Scales()) {
    sizes.insert(GetSystemMetricsForDpi(SM_CXSMICON, dpi));
    sizes.insert(GetSystemMetricsForDpi(SM_CXICON, dpi));
  }
  for (const int size : sizes) DestroyIcon(LoadIconFile(path, size));
}

}  // namespace platform
