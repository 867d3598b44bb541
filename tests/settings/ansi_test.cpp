#include <string>

#include <gtest/gtest.h>

#include "platform/ansi.h"
#include "tests/support/files.h"

namespace {

using namespace std::string_literals;

struct AnsiCase {
  const char* name;
  std::string bytes;
  std::wstring text;
};

class AnsiTest : public testing::TestWithParam<AnsiCase> {};

TEST_P(AnsiTest, ConvertsBothWays) {
  EXPECT_EQ(platform::FromAnsi(GetParam().bytes), GetParam().text);
  EXPECT_EQ(platform::ToAnsi(GetParam().text), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Ansi, AnsiTest,
    testing::Values(AnsiCase{"Ascii", "top=1", L"top=1"}, AnsiCase{"Nul", "a\0b"s, L"a\0b"s},
                    AnsiCase{"TwoBytes", "\xC3\xA9", L"\u00E9"},
                    AnsiCase{"ThreeBytes", "\xE2\x82\xAC", L"\u20AC"},
                    AnsiCase{"AboveFFFF", "\xF0\x9F\x98\x80", L"\U0001F600"},
                    AnsiCase{"Highest", "\xF4\x8F\xBF\xBF", L"\U0010FFFF"},
                    // Each byte outside a valid sequence stands for itself.
                    AnsiCase{"StrayByte", "a\xFFz", L"a\xDCFFz"},
                    AnsiCase{"Overlong", "\xC0\x80", L"\xDCC0\xDC80"},
                    AnsiCase{"EncodedSurrogate", "\xED\xA0\x80", L"\xDCED\xDCA0\xDC80"},
                    AnsiCase{"BeyondUnicode", "\xF4\x90\x80\x80", L"\xDCF4\xDC90\xDC80\xDC80"},
                    AnsiCase{"CutShort", "\xE2\x82z", L"\xDCE2\xDC82z"},
                    AnsiCase{"CutAtEnd", "\xF0\x9F\x98", L"\xDCF0\xDC9F\xDC98"}),
    kCaseName);

TEST(Ansi, TextWithoutAByteFormBecomesTheReplacementCharacter) {
  EXPECT_EQ(platform::ToAnsi(L"\xD800"), "\xEF\xBF\xBD");
  EXPECT_EQ(platform::ToAnsi(L"\xDC41"), "\xEF\xBF\xBD");
  EXPECT_EQ(platform::ToAnsi(std::wstring(1, static_cast<wchar_t>(0x110000))), "\xEF\xBF\xBD");
}

TEST(Ansi, EveryTwoByteStringSurvivesTheRoundTrip) {
  std::string bytes(2, '\0');
  for (int pair = 0; pair < 0x10000; ++pair) {
    bytes[0] = static_cast<char>(pair >> 8);
    bytes[1] = static_cast<char>(pair);
    ASSERT_EQ(platform::ToAnsi(platform::FromAnsi(bytes)), bytes) << pair;
  }
}

}  // namespace
