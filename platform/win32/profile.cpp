#include "platform/profile.h"

#include <windows.h>

namespace platform {

std::uint32_t GetPrivateProfileStringA(const char* section, const char* key,
                                       const char* default_value, char* buffer, std::uint32_t size,
                                       const char* file) {
  return ::GetPrivateProfileStringA(section, key, default_value, buffer, size, file);
}

bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* file) {
  return ::WritePrivateProfileStringA(section, key, value, file) != FALSE;
}

}  // namespace platform
