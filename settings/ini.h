#pragma once
// Single values of the settings file, read and written on every call; nothing is cached.

#include <cstdint>
#include <string>

namespace ini {

// The full path of the settings file, set once at start-up before the first read.
inline std::wstring IniFile;

// The value of `key` in `[section]`; "" when the file, section or key is missing. A value
// longer than the 255-unit buffer of the profile functions reads as its first 254 units.
std::wstring ReadIni(const std::wstring& section, const std::wstring& key);

// Stores `value` under `key` in `[section]`, creating file, section and key as needed.
// Returns nonzero on success; on failure the file is left as it was.
std::int32_t WriteIni(const std::wstring& section, const std::wstring& key,
                      const std::wstring& value);

// Why the settings file cannot be read at all, naming it; "" when it can.
std::string FileProblem();

// Why the last WriteIni failed, naming the file, the section and the key.
std::string LastWriteFailure();

}  // namespace ini
