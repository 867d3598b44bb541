#pragma once
// The profile-file (INI) service: single values of a settings file, read and written by
// section and key. Section and key names match without regard to case.

#include <cstdint>
#include <string>

namespace platform {

// Copies the value of `key` in `[section]` of `file` into `buffer`, cut to `size` - 1 bytes and
// followed by a NUL; copies `default_value` instead when the file, section or key is missing.
// Returns the number of bytes copied, not counting the NUL.
std::uint32_t GetPrivateProfileStringA(const char* section, const char* key,
                                       const char* default_value, char* buffer, std::uint32_t size,
                                       const char* file);

// Stores `value` under `key` in `[section]` of `file`, creating the file, the section and the
// key when missing. Returns false when the value could not be stored; the file is then left
// exactly as it was.
bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* file);

// Why the last WritePrivateProfileStringA of this thread failed, naming the file, the section
// and the key.
std::string LastProfileWriteFailure();

// Whether `file` can be read as a settings file: the profile functions read a missing or
// unreadable file as one without any key.
struct ProfileFileState {
  bool missing = false;
  // Why an existing file cannot be read (an error, or an encoding the functions cannot read);
  // empty when it can.
  std::string unreadable;
};
ProfileFileState CheckProfileFile(const char* file);

}  // namespace platform
