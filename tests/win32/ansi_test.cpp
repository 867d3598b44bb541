// Text through the ANSI code page, as every byte-string call of the program takes it.
#include "platform/ansi.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Win32Ansi, EveryByteSurvivesTheRoundTripInASingleByteCodePage) {
  CPINFO info;
  ASSERT_TRUE(GetCPInfo(CP_ACP, &info));
  if (info.MaxCharSize != 1) GTEST_SKIP() << "the ANSI code page " << GetACP() << " is multi-byte";
  std::string bytes;
  for (int b = 1; b < 256; ++b) bytes += static_cast<char>(b);
  const std::wstring text = platform::FromAnsi(bytes);
  EXPECT_EQ(text.size(), bytes.size());
  EXPECT_EQ(platform::ToAnsi(text), bytes);
}

TEST(Win32Ansi, ConvertsThroughTheSystemCodePage) {
  if (GetACP() != 1252) GTEST_SKIP() << "the cases are for code page 1252, this is " << GetACP();
  const struct {
    std::wstring text;
    std::string bytes;
  } cases[] = {
      {L"", ""},
      {L"127.0.0.1", "127.0.0.1"},
      {L"Gr\u00fc\u00dfe",
       "Gr\xfc\xdf"
       "e"},
      {L"\u20ac", "\x80"},  // the euro sign sits at 0x80 in 1252, not at its Latin-1 place
      {std::wstring(L"a\0b", 3), std::string("a\0b", 3)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::ToAnsi(c.text), c.bytes);
    EXPECT_EQ(platform::FromAnsi(c.bytes), c.text);
  }
  // A character that the code page lacks becomes its default character.
  EXPECT_EQ(platform::ToAnsi(L"\u4e00"), "?");
}

}  // namespace
