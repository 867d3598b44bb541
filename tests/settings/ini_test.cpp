#include <string>

#include <gtest/gtest.h>

#include "platform/ansi.h"
#include "settings/ini.h"
#include "tests/support/files.h"

namespace {

TEST(Ini, ReadsAndWritesThroughTheConversion) {
  TempFolder folder;
  // A folder name outside ASCII, so that the path goes through the conversion too.
  std::filesystem::create_directory(folder / "k\xC3\xB6rvi");
  const std::string path = folder / "k\xC3\xB6rvi/korvi.ini";
  ini::IniFile = platform::FromAnsi(path);
  EXPECT_EQ(ini::ReadIni(L"main", L"top"), L"");
  EXPECT_EQ(ini::WriteIni(L"main", L"top", L"4320"), 1);
  EXPECT_EQ(ini::ReadIni(L"MAIN", L"Top"), L"4320");
  EXPECT_EQ(ReadBytes(path), "[main]\ntop=4320\n");

  WriteBytes(path, "[main]\nicon1=\xFF\xC3\xA9.ico\nlong=" + std::string(300, 'x') + "\n");
  const std::wstring icon = ini::ReadIni(L"main", L"icon1");
  EXPECT_EQ(icon, L"\xDCFF\u00E9.ico");
  EXPECT_EQ(ini::ReadIni(L"main", L"long"), std::wstring(254, L'x'));
  EXPECT_EQ(ini::WriteIni(L"main", L"icon2", icon), 1);
  EXPECT_EQ(ini::ReadIni(L"main", L"icon2"), icon);
  EXPECT_EQ(ini::WriteIni(L"main", L"top", L"1\n[x]"), 0);
}

}  // namespace
