#include "monitor/log_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(LogText, StatusHasABlankBeforeNonNegativeNumbers) {
  EXPECT_EQ(log_text::StatusText(0), L" 0");
  EXPECT_EQ(log_text::StatusText(11010), L" 11010");
  EXPECT_EQ(log_text::StatusText(-1), L"-1");
  EXPECT_EQ(log_text::StatusText(-2147483647 - 1), L"-2147483648");
}

TEST(LogText, TimeIsTwoDigitsEach) {
  EXPECT_EQ(log_text::TimeText({7, 5, 9}), L"07:05:09");
  EXPECT_EQ(log_text::TimeText({23, 59, 59}), L"23:59:59");
}

struct RgbCase {
  std::int16_t red, green, blue;
  std::uint32_t color;
};

TEST(LogText, RgbComposesAndHoldsComponentsTo0To255) {
  const RgbCase cases[] = {
      {0, 0, 0, 0x000000},
      {255, 0, 0, 0x0000FF},
      {0, 255, 0, 0x00FF00},
      {0, 0, 255, 0xFF0000},
      {144, 238, 144, 144 + 256 * 238 + 65536 * 144},
      {300, 256, 32767, 0xFFFFFF},  // above 255 counts as 255
      {-1, -32768, 5, 0x050000},    // negative counts as 0
  };
  for (const auto& c : cases) {
    EXPECT_EQ(log_text::Rgb(c.red, c.green, c.blue), c.color) << "case #" << (&c - cases);
  }
}

std::wstring Lines(int count, const std::wstring& line) {
  std::wstring text;
  for (int i = 0; i < count; ++i) text += line;
  return text;
}

struct CapCase {
  std::wstring log;
  std::size_t limit;
  std::wstring kept;
};

TEST(LogText, KeepsTheNewestWholeLinesThatFit) {
  const std::wstring line = L"12:00:00 :  11010\r\n";  // 19 characters
  const CapCase cases[] = {
      {L"", 1000, L""},
      {Lines(52, line), 1000, Lines(52, line)},  // 988 characters fit whole
      {Lines(53, line), 1000, Lines(52, line)},  // 1007: the oldest line goes
      {Lines(200, line), 1000, Lines(52, line)},
      {Lines(2, line), 38, Lines(2, line)},                        // exactly at the limit
      {Lines(2, line), 37, line},                                  // one short: never half a line
      {std::wstring(1200, L'x'), 1000, std::wstring(1000, L'x')},  // no line end at all
  };
  for (const auto& c : cases) {
    const std::wstring kept = log_text::KeepNewestLines(c.log, c.limit);
    EXPECT_EQ(kept, c.kept) << "case #" << (&c - cases);
    EXPECT_LE(kept.size(), c.limit);
  }
}

}  // namespace
