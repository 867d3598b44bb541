#include "settings/ini.h"

#include "platform/ansi.h"
#include "platform/profile.h"

namespace ini {

std::wstring ReadIni(const std::wstring& section, const std::wstring& key) {
  wchar_t buffer[255] = {};
  platform::GetPrivateProfileStringW(section.c_str(), key.c_str(), L"", buffer, 255,
                                     IniFile.c_str());
  return buffer;
}

std::int32_t WriteIni(const std::wstring& section, const std::wstring& key,
                      const std::wstring& value) {
  return platform::WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(),
                                              IniFile.c_str())
             ? 1
             : 0;
}

std::string FileProblem() {
  const std::string file = platform::MessageText(IniFile);
  const platform::ProfileFileState state = platform::CheckProfileFile(IniFile.c_str());
  if (state.missing) return "the settings file is missing: korvi looked for " + file;
  if (!state.unreadable.empty())
    return "cannot read the settings file " + file + ": " + state.unreadable;
  return {};
}

std::string LastWriteFailure() {
  return platform::LastProfileWriteFailure();
}

}  // namespace ini
