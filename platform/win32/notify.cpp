#include "platform/notify.h"

#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>
#include <utility>

#include "platform/report.h"
#include "platform/win32/tray_entries.h"

namespace platform {
namespace {

// The first version of the wide native record: pointer-sized handles and a tip of 64 UTF-16
// units make it 168 bytes on 64-bit.
static_assert(NOTIFYICONDATAW_V1_SIZE == (sizeof(void*) == 8 ? 168 : 152));

// Window and icon handles are 32-bit values that Windows sign-extends on 64-bit.
template <typename Handle>
Handle FromHandle32(std::uint32_t value) {
  return reinterpret_cast<Handle>(static_cast<std::intptr_t>(static_cast<std::int32_t>(value)));
}

// The program's byte-string record through the shell's wide call, as the system's own
// byte-string call does: the tip from the ANSI code page.
NOTIFYICONDATAW ToNative(const NotifyIconData& data) {
  NOTIFYICONDATAW native{};
  native.cbSize = NOTIFYICONDATAW_V1_SIZE;
  native.hWnd = FromHandle32<HWND>(data.hWnd);
  native.uID = data.uID;
  native.uFlags = data.uFlags;
  native.uCallbackMessage = data.uCallbackMessage;
  native.hIcon = FromHandle32<HICON>(data.hIcon);
  // The shell reads the tip up to its NUL.
  const int length = static_cast<int>(strnlen(data.szTip, sizeof data.szTip - 1));
  MultiByteToWideChar(CP_ACP, 0, data.szTip, length, native.szTip, 63);
  return native;
}

using EntryKey = std::pair<HWND, UINT>;

std::map<EntryKey, NOTIFYICONDATAW>& LiveEntries() {
  static std::map<EntryKey, NOTIFYICONDATAW> entries;
  return entries;
}

void Remember(DWORD message, const NOTIFYICONDATAW& native) {
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
  NOTIFYICONDATAW& kept = found->second;
  if (native.uFlags & NIF_MESSAGE) kept.uCallbackMessage = native.uCallbackMessage;
  if (native.uFlags & NIF_ICON) kept.hIcon = native.hIcon;
  if (native.uFlags & NIF_TIP)
    std::copy(std::begin(native.szTip), std::end(native.szTip), kept.szTip);
  kept.uFlags |= native.uFlags;
}

}  // namespace

bool Shell_NotifyIconA(std::uint32_t message, NotifyIconData* data) {
  NOTIFYICONDATAW native = ToNative(*data);
  const bool done = ::Shell_NotifyIconW(message, &native) != FALSE;
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
    if (key.first == window) ::Shell_NotifyIconW(NIM_ADD, &native);
  }
}

void ShowNotification(std::uint32_t hWnd, std::uint32_t uID, const std::wstring& title,
                      const std::wstring& text, std::uint32_t hIcon) {
  // The whole record: only it carries the balloon's own icon. The entry's own record, for
  // adding, changing and removing it, stays the first, smaller one.
  NOTIFYICONDATAW balloon{};
  balloon.cbSize = sizeof balloon;
  balloon.hWnd = FromHandle32<HWND>(hWnd);
  balloon.uID = uID;
  balloon.uFlags = NIF_INFO;
  lstrcpynW(balloon.szInfoTitle, title.c_str(), static_cast<int>(std::size(balloon.szInfoTitle)));
  lstrcpynW(balloon.szInfo, text.c_str(), static_cast<int>(std::size(balloon.szInfo)));
  balloon.dwInfoFlags = NIIF_USER;
  balloon.hBalloonIcon = FromHandle32<HICON>(hIcon);
  // The icon given is the entry's small one, which a balloon asking for a large icon would
  // have stretched: the window holds the same picture at the large size.
  if (const auto large = SendMessageW(balloon.hWnd, WM_GETICON, ICON_BIG, 0); large != 0) {
    balloon.dwInfoFlags |= NIIF_LARGE_ICON;
    balloon.hBalloonIcon = reinterpret_cast<HICON>(large);
  }
  // A new balloon of the entry takes the place of the one shown.
  if (::Shell_NotifyIconW(NIM_MODIFY, &balloon) != FALSE) return;
  static bool said = false;
  if (std::exchange(said, true)) return;
  // The shell says no more than that.
  Report(
      "the notification area did not take the balloon; changes show only in the window and "
      "the tray entry");
}

void RemoveTrayEntries() {
  auto& entries = LiveEntries();
  for (auto& [key, native] : entries) ::Shell_NotifyIconW(NIM_DELETE, &native);
  entries.clear();
}

}  // namespace platform
