#include "tray/task_icon.h"

#include <cstring>
#include <string>
#include <variant>

#include "platform/ansi.h"

namespace TaskIcon {
namespace {

template <typename T>
T Read(const platform::Form& window, const wchar_t* name) {
  const platform::PropertyValue value = platform::GetProperty(window, name);
  if (const T* held = std::get_if<T>(&value)) return *held;
  throw platform::RuntimeError("the window's property \"" + platform::ToAnsi(name) +
                               "\" has the wrong type");
}

// The shell reads the tip up to its NUL, so the field always keeps one: a long caption is
// cut to 63 bytes, and never inside a multi-byte character.
void FillTip(const std::wstring& caption, char (&field)[64]) {
  std::string tip = platform::ToAnsi(caption);
  if (tip.size() > sizeof field - 1) {
    std::size_t cut = sizeof field - 1;
    while (cut > 0 && (static_cast<unsigned char>(tip[cut]) & 0xC0) == 0x80) --cut;
    tip.resize(cut);
  }
  std::memset(field, ' ', sizeof field);
  std::memcpy(field, tip.data(), tip.size());
  field[tip.size()] = '\0';
}

}  // namespace

void SetTrayIcon(const std::wstring& action, const platform::Form& window) {
  FillTip(Read<std::wstring>(window, L"Caption"), nid.szTip);
  nid.uFlags = platform::kNifMessage | platform::kNifIcon | platform::kNifTip;
  nid.uID = kEntryId;
  nid.cbSize = sizeof nid;
  nid.hWnd = static_cast<std::uint32_t>(Read<std::int32_t>(window, L"hwnd"));
  nid.uCallbackMessage = kCallbackMessage;
  nid.hIcon = static_cast<std::uint32_t>(Read<std::int32_t>(window, L"Icon"));

  if (action == L"ADD") {
    platform::Shell_NotifyIconA(platform::kNimAdd, &nid);
  } else if (action == L"MODIFY") {
    platform::Shell_NotifyIconA(platform::kNimModify, &nid);
  } else if (action == L"DELETE") {
    platform::Shell_NotifyIconA(platform::kNimDelete, &nid);
  }
}

void Notify(const std::wstring& title, const std::wstring& text, const platform::Form& window) {
  platform::ShowNotification(static_cast<std::uint32_t>(Read<std::int32_t>(window, L"hwnd")),
                             kEntryId, title, text,
                             static_cast<std::uint32_t>(Read<std::int32_t>(window, L"Icon")));
}

}  // namespace TaskIcon
