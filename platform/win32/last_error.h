#pragma once
// Text for a Win32 error code, for the program's reports.

#include <windows.h>

#include <string>

namespace platform {

// "the system cannot find the file specified (error 2)"
std::string LastErrorText(DWORD error);

}  // namespace platform
