#pragma once
// Text for a Win32 error code, and the UTF-8 of the program's messages to and from the UTF-16
// that the system's wide calls take.

#include <windows.h>

#include <string>
#include <string_view>

namespace platform {

// "File not found (error 2)"; never a "success" for a call that failed without saying why.
std::string LastErrorText(DWORD error);

std::string Utf8(std::wstring_view text);
std::wstring Utf16(std::string_view utf8);

}  // namespace platform
