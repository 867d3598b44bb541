#pragma once
// The notification-area (tray) service: one entry per window and identifier, added, changed
// and removed through one call with the shell's 88-byte record.

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// The shell's byte-string record in its first, 32-bit version.
struct NotifyIconData {
  std::uint32_t cbSize;
  std::uint32_t hWnd;
  std::uint32_t uID;
  std::uint32_t uFlags;
  std::uint32_t uCallbackMessage;
  std::uint32_t hIcon;
  char szTip[64];
};
static_assert(sizeof(NotifyIconData) == 88);
static_assert(offsetof(NotifyIconData, hWnd) == 4);
static_assert(offsetof(NotifyIconData, uID) == 8);
static_assert(offsetof(NotifyIconData, uFlags) == 12);
static_assert(offsetof(NotifyIconData, uCallbackMessage) == 16);
static_assert(offsetof(NotifyIconData, hIcon) == 20);
static_assert(offsetof(NotifyIconData, szTip) == 24);

// The `message` argument of Shell_NotifyIconA.
inline constexpr std::uint32_t kNimAdd = 0;
inline constexpr std::uint32_t kNimModify = 1;
inline constexpr std::uint32_t kNimDelete = 2;

// uFlags: which fields are valid.
inline constexpr std::uint32_t kNifMessage = 1;
inline constexpr std::uint32_t kNifIcon = 2;
inline constexpr std::uint32_t kNifTip = 4;

// Adds, changes or removes the entry named by `data->hWnd` and `data->uID`. While the entry
// exists, mouse activity over it reaches that window as message `uCallbackMessage` with the
// mouse message code (512 move, 513 left down, 514 left up, 515 left double click, 517 right
// up, 520 middle up) as its parameter. Returns false when the shell refused the request.
bool Shell_NotifyIconA(std::uint32_t message, NotifyIconData* data);

// Shows a notification of the desktop's (the entry's balloon on Windows) for the entry named
// by `hWnd` and `uID`: `title` and `text`, with the icon `hIcon`. It replaces that entry's
// previous one; a click on it reaches the window as a left-button release over the entry (514).
// Returns at once, the desktop answering later; a desktop that cannot show notifications is
// said so once on standard error.
void ShowNotification(std::uint32_t hWnd, std::uint32_t uID, const std::wstring& title,
                      const std::wstring& text, std::uint32_t hIcon);

}  // namespace platform
