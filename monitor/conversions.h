#pragma once
// The number conversions that turn settings text into numbers and back.

#include <cstdint>
#include <string>
#include <string_view>

namespace conversions {

enum class Failure {
  kNone,
  kNotANumber,  // the text is not a number at all
  kOverflow,    // a number, but outside the range of the target type
};

template <typename T>
struct Converted {
  T value{};
  Failure failure = Failure::kNone;
  bool ok() const { return failure == Failure::kNone; }
};

// The whole text, apart from blanks around it, must be a decimal number ("4320", "-1200",
// "2500.5", "1.234568E+07"); "." is the decimal separator.
Converted<float> StrictSingle(std::wstring_view text);
// As StrictSingle, then rounded to a whole number, halves to the even neighbour.
Converted<std::int32_t> StrictLong(std::wstring_view text);

// The number at the start of the text, blanks, tabs and line feeds anywhere being skipped
// ("2 55" is 255, "12abc" is 12, "abc" and "" are 0), rounded to a whole number with halves
// to the even neighbour.
Converted<std::int16_t> LenientInteger(std::wstring_view text);

// At most 7 significant digits, no trailing zeros, no leading blank: "4320", "-1200", "0.5",
// "1.234568E+07". StrictSingle reads every such text back.
std::wstring SingleToText(float value);

}  // namespace conversions
