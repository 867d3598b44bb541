#include "platform/profile.h"

#include <windows.h>

#include <string>

#include "platform/common/profile_encoding.h"
#include "platform/win32/last_error.h"

namespace platform {
namespace {

thread_local std::string last_write_failure;

}  // namespace

std::uint32_t GetPrivateProfileStringA(const char* section, const char* key,
                                       const char* default_value, char* buffer, std::uint32_t size,
                                       const char* file) {
  return ::GetPrivateProfileStringA(section, key, default_value, buffer, size, file);
}

bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* file) {
  if (::WritePrivateProfileStringA(section, key, value, file) != FALSE) return true;
  const DWORD error = GetLastError();
  last_write_failure = std::string("cannot save [") + (section ? section : "") + "] " +
                       (key ? key : "") + " in " + (file ? file : "") + ": " + LastErrorText(error);
  return false;
}

std::string LastProfileWriteFailure() {
  return last_write_failure;
}

ProfileFileState CheckProfileFile(const char* file) {
  const HANDLE handle = CreateFileA(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
      return {.missing = true, .unreadable = {}};
    return {.unreadable = LastErrorText(error)};
  }
  char start[4] = {};
  DWORD got = 0;
  const BOOL read = ReadFile(handle, start, sizeof start, &got, nullptr);
  const DWORD error = GetLastError();
  CloseHandle(handle);
  if (!read) return {.unreadable = LastErrorText(error)};
  if (const auto encoding = profile_encoding::UnreadableEncoding(std::string_view(start, got));
      !encoding.empty()) {
    return {.unreadable = profile_encoding::Refusal(encoding)};
  }
  return {};
}

}  // namespace platform
