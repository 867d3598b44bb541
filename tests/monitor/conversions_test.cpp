#include "monitor/conversions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

using conversions::Failure;

struct SingleCase {
  const wchar_t* text;
  float value;
  Failure failure;
};

TEST(StrictSingle, ReadsWholeNumbersOnly) {
  const SingleCase cases[] = {
      {L"4320", 4320.0f, Failure::kNone},
      {L"-1200", -1200.0f, Failure::kNone},
      {L"  15 ", 15.0f, Failure::kNone},
      {L"\t+7\t", 7.0f, Failure::kNone},
      {L"2500.5", 2500.5f, Failure::kNone},
      {L".5", 0.5f, Failure::kNone},
      {L"5.", 5.0f, Failure::kNone},
      {L"-.25", -0.25f, Failure::kNone},
      {L"1.234568E+07", 12345680.0f, Failure::kNone},
      {L"1e-50", 0.0f, Failure::kNone},  // underflows to zero, not an error
      // The nearest single; rounding through a double first gives its neighbour.
      {L"7.038531E-26", 7.038531e-26f, Failure::kNone},
      {L"0.00000000000000000000000000000000000000000000000001", 0.0f, Failure::kNone},
      {L"", 0.0f, Failure::kNotANumber},
      {L"   ", 0.0f, Failure::kNotANumber},
      {L"abc", 0.0f, Failure::kNotANumber},
      {L"12abc", 0.0f, Failure::kNotANumber},
      {L"1 2", 0.0f, Failure::kNotANumber},
      {L"1,5", 0.0f, Failure::kNotANumber},
      {L"-", 0.0f, Failure::kNotANumber},
      {L".", 0.0f, Failure::kNotANumber},
      {L"1e", 0.0f, Failure::kNotANumber},
      {L"inf", 0.0f, Failure::kNotANumber},
      {L"nan", 0.0f, Failure::kNotANumber},
      {L"0x10", 0.0f, Failure::kNotANumber},
      {L"1e39", 0.0f, Failure::kOverflow},  // beyond single precision
      {L"-1e400", 0.0f, Failure::kOverflow},
  };
  for (const auto& c : cases) {
    const auto got = conversions::StrictSingle(c.text);
    EXPECT_EQ(got.failure, c.failure) << "case #" << (&c - cases);
    if (c.failure == Failure::kNone) {
      EXPECT_EQ(got.value, c.value) << "case #" << (&c - cases);
    }
  }
}

struct LongCase {
  const wchar_t* text;
  std::int32_t value;
  Failure failure;
};

TEST(StrictLong, RoundsHalvesToEvenAndReportsOverflow) {
  const LongCase cases[] = {
      {L"10000", 10000, Failure::kNone},
      {L"2500.5", 2500, Failure::kNone},
      {L"2501.5", 2502, Failure::kNone},
      {L"-2.5", -2, Failure::kNone},
      {L"0.49", 0, Failure::kNone},
      {L"2147483647", 2147483647, Failure::kNone},
      {L"-2147483648", std::numeric_limits<std::int32_t>::min(), Failure::kNone},
      {L"2147483647.5", 0, Failure::kOverflow},  // the even neighbour is out of range
      {L"2147483648", 0, Failure::kOverflow},
      {L"1e300", 0, Failure::kOverflow},
      {L"ten", 0, Failure::kNotANumber},
      {L"", 0, Failure::kNotANumber},
  };
  for (const auto& c : cases) {
    const auto got = conversions::StrictLong(c.text);
    EXPECT_EQ(got.failure, c.failure) << "case #" << (&c - cases);
    if (c.failure == Failure::kNone) {
      EXPECT_EQ(got.value, c.value) << "case #" << (&c - cases);
    }
  }
}

struct LenientCase {
  const wchar_t* text;
  std::int16_t value;
  Failure failure;
};

TEST(LenientInteger, TakesTheLeadingNumber) {
  const LenientCase cases[] = {
      {L"255", 255, Failure::kNone},
      {L"12abc", 12, Failure::kNone},
      {L"abc", 0, Failure::kNone},
      {L"", 0, Failure::kNone},
      {L"2.5", 2, Failure::kNone},
      {L"3.5", 4, Failure::kNone},
      {L"2 55", 255, Failure::kNone},
      {L" \t- 1\n2", -12, Failure::kNone},
      {L"1e2", 100, Failure::kNone},
      {L"1e", 1, Failure::kNone},  // an exponent without digits is not part of the number
      {L"-", 0, Failure::kNone},
      {L"1,5", 1, Failure::kNone},
      {L"32767", 32767, Failure::kNone},
      {L"-32768", -32768, Failure::kNone},
      {L"32767.5", 0, Failure::kOverflow},
      {L"40000", 0, Failure::kOverflow},
      {L"1e400", 0, Failure::kOverflow},
  };
  for (const auto& c : cases) {
    const auto got = conversions::LenientInteger(c.text);
    EXPECT_EQ(got.failure, c.failure) << "case #" << (&c - cases);
    if (c.failure == Failure::kNone) {
      EXPECT_EQ(got.value, c.value) << "case #" << (&c - cases);
    }
  }
}

struct TextCase {
  float value;
  const wchar_t* text;
};

TEST(SingleToText, SevenSignificantDigitsNoTrailingZeros) {
  const TextCase cases[] = {
      {4320.0f, L"4320"},
      {-1200.0f, L"-1200"},
      {0.0f, L"0"},
      {-0.0f, L"0"},
      {0.5f, L"0.5"},
      {-0.25f, L"-0.25"},
      {1234567.0f, L"1234567"},
      {12345678.0f, L"1.234568E+07"},
      {10000000.0f, L"1E+07"},
      {0.0001f, L"0.0001"},
      {0.00001f, L"1E-05"},
      {1.0f / 3.0f, L"0.3333333"},
      {100.5f, L"100.5"},
      {491505.0f, L"491505"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(conversions::SingleToText(c.value), c.text) << "value " << c.value;
  }
}

TEST(SingleToText, StrictSingleReadsItBack) {
  // Positions are whole pixels times 15, so every value the window can report must survive
  // the trip through the settings file exactly.
  for (int pixels = -40000; pixels <= 40000; pixels += 7) {
    const float twips = static_cast<float>(pixels * 15);
    const auto back = conversions::StrictSingle(conversions::SingleToText(twips));
    ASSERT_TRUE(back.ok()) << twips;
    ASSERT_EQ(back.value, twips);
  }
  for (float value : {0.1f, -3.75f, 1e-20f, 3.4e38f, 123456.7f}) {
    const auto back = conversions::StrictSingle(conversions::SingleToText(value));
    ASSERT_TRUE(back.ok()) << value;
    EXPECT_NEAR(back.value, value, std::fabs(value) * 1e-6f) << value;
  }
}

}  // namespace
