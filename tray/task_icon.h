#pragma once
// The window's one entry in the notification area.

#include <string>

#include "platform/notify.h"
#include "platform/window.h"

namespace TaskIcon {

inline constexpr std::uint32_t kEntryId = 100;
inline constexpr std::uint32_t kCallbackMessage = 512;  // arrives as a mouse move

// The record handed to the shell, filled anew on every call.
inline platform::NotifyIconData nid{};

// "ADD", "MODIFY" or "DELETE" (exact case) the window's entry, taking the tip from the
// window's caption and the icon from its current icon. Any other action does nothing more
// than fill the record.
void SetTrayIcon(const std::wstring& action, const platform::Form& window);

// A notification beside the window's entry, with the window's current icon; it replaces the
// entry's previous one, and a click on it reaches the window as a click on the entry does.
void Notify(const std::wstring& title, const std::wstring& text, const platform::Form& window);

}  // namespace TaskIcon
