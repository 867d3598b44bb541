#pragma once
// The profile-file (INI) service: single values of a settings file, read and written by
// section and key, in wide text throughout, so that a path or value in any script survives.
// Section and key names match without regard to case. The file's own bytes stay in their
// encoding: ANSI, UTF-8 or UTF-16 with a byte-order mark.

#include <cstdint>
#include <string>

namespace platform {

// Copies the value of `key` in `[section]` of `file` into `buffer`, cut to `size` - 1
// characters and followed by a NUL; copies `default_value` instead when the file, section or
// key is missing. Returns the number of characters copied, not counting the NUL.
std::uint32_t GetPrivateProfileStringW(const wchar_t* section, const wchar_t* key,
                                       const wchar_t* default_value, wchar_t* buffer,
                                       std::uint32_t size, const wchar_t* file);

// Stores `value` under `key` in `[section]` of `file`, creating the file, the section and the
// key when missing. The new content is written beside the file and put in its place in one
// step, so the file is never half-written; a value the file already holds writes nothing.
// Returns false when the value could not be stored; the file is then left exactly as it was.
bool WritePrivateProfileStringW(const wchar_t* section, const wchar_t* key, const wchar_t* value,
                                const wchar_t* file);

// Why the last WritePrivateProfileStringW of this thread failed, naming the file, the section
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
ProfileFileState CheckProfileFile(const wchar_t* file);

}  // namespace platform
