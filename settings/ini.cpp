#include "settings/ini.h"

#include <algorithm>

#include "platform/ansi.h"
#include "platform/profile.h"

namespace ini {

std::wstring ReadIni(const std::wstring& section, const std::wstring& key) {
  char buffer[255] = {};
  platform::GetPrivateProfileStringA(platform::ToAnsi(section).c_str(),
                                     platform::ToAnsi(key).c_str(), "", buffer, sizeof buffer,
                                     platform::ToAnsi(IniFile).c_str());
  return platform::FromAnsi(std::string(buffer, std::find(buffer, buffer + sizeof buffer, '\0')));
}

std::int32_t WriteIni(const std::wstring& section, const std::wstring& key,
                      const std::wstring& value) {
  return platform::WritePrivateProfileStringA(
             platform::ToAnsi(section).c_str(), platform::ToAnsi(key).c_str(),
             platform::ToAnsi(value).c_str(), platform::ToAnsi(IniFile).c_str())
             ? 1
             : 0;
}

std::string FileProblem() {
  const std::string file = platform::ToAnsi(IniFile);
  const platform::ProfileFileState state = platform::CheckProfileFile(file.c_str());
  if (state.missing) return "the settings file is missing: korvi looked for " + file;
  if (!state.unreadable.empty())
    return "cannot read the settings file " + file + ": " + state.unreadable;
  return {};
}

std::string LastWriteFailure() {
  return platform::LastProfileWriteFailure();
}

}  // namespace ini
