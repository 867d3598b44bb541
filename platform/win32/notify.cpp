#include "platform/notify.h"

#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <utility>

#include "platform/win32/tray_entries.h"

namespace platform {
namespace {

// The first version of the native record: pointer-sized handles make it 104 bytes on 64-bit.
static_assert(NOTIFYICONDATAA_V1_SIZE == (sizeof(void*) == 8 ? 104 : 88));

// Window and icon handles are 32-bit values that Windows sign-extends on 64-bit.
template <typename Handle>
Handle FromHandle32(std::uint32_t value) {
  return reinterpret_cast<Handle>(static_cast<std::intptr_t>(static_cast<std::int32_t>(value)));
}

NOTIFYICONDATAA ToNative(const NotifyIconData& data) {
  NOTIFYICONDATAA native{};
  native.cbSize = NOTIFYICONDATAA_V1_SIZE;
  native.hWnd = FromHandle32<HWND>(data.hWnd);
  native.uID = data.uID;
  native.uFlags = data.uFlags;
  native.uCallbackMessage = data.uCallbackMessage;
  native.hIcon = FromHandle32<HICON>(data.hIcon);
  std::memcpy(native.szTip, data.szTip, sizeof data.szTip);
  // The shell reads the tip up to its NUL.
  native.szTip[sizeof data.szTip - 1] = '\0';
  return native;
}

using EntryKey = std::pair<HWND, UINT>;

std::map<EntryKey, NOTIFYICONDATAA>& LiveEntries() {
  static std::map<EntryKey, NOTIFYICONDATAA> entries;
  return entries;
}

void Remember(DWORD message, const NOTIFYICONDATAA& native) {
  auto& entries = LiveEntries();
  const EntryKey key{native.hWnd, native.uID};
  if (message == NIM_ADD) {
    entries[key] = native;
    return;
  }
  const auto found = entries.find(key);
  if (found == entries.end()) return;
  if (message == NIM_DELETE) {
    entries.erase(found);
    return;
  }
  NOTIFYICONDATAA& kept = found->second;
  if (native.uFlags & NIF_MESSAGE) kept.uCallbackMessage = native.uCallbackMessage;
  if (native.uFlags & NIF_ICON) kept.hIcon = native.hIcon;
  if (native.uFlags & NIF_TIP) std::memcpy(kept.szTip, native.szTip, sizeof kept.szTip);
  kept.uFlags |= native.uFlags;
}

}  // namespace

bool Shell_NotifyIconA(std::uint32_t message, NotifyIconData* data) {
  NOTIFYICONDATAA native = ToNative(*data);
  const bool done = ::Shell_NotifyIconA(message, &native) != FALSE;
  // Kept whether or not the shell took it: a shell that is not up yet announces itself with
  // TaskbarCreated, and then gets the entry.
  Remember(message, native);
  return done;
}

UINT TaskbarCreatedMessage() {
  static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
  return message;
}

void ReAddTrayEntries(HWND window) {
  for (auto& [key, native] : LiveEntries()) {
    if (key.first == window) ::Shell_NotifyIconA(NIM_ADD, &native);
  }
}

void RemoveTrayEntries() {
  auto& entries = LiveEntries();
  for (auto& [key, native] : entries) ::Shell_NotifyIconA(NIM_DELETE, &native);
  entries.clear();
}

}  // namespace platform
