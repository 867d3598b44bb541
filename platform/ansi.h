#pragma once
// Conversion between the program's wide text and the byte strings that the platform's
// byte-string ("A") calls take, in the system's ANSI code page (UTF-8 on Linux).
// Bytes that are not valid in the code page survive a round trip unchanged.

#include <string>

namespace platform {

std::string ToAnsi(const std::wstring& text);
std::wstring FromAnsi(const std::string& bytes);

// Text as the program's messages carry it (RuntimeError, standard error, message boxes): UTF-8,
// so that a name in any script reaches the user as written.
std::string MessageText(const std::wstring& text);

}  // namespace platform
