#include "monitor/conversions.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

namespace conversions {
namespace {

bool IsDigit(wchar_t c) {
  return c >= L'0' && c <= L'9';
}
bool IsBlank(wchar_t c) {
  return c == L' ' || c == L'\t';
}

// Length of the longest prefix of `s` that reads as [sign] digits [. digits] [exponent],
// with at least one mantissa digit; 0 when there is none. The matched text, with a "D"
// exponent spelled "e", goes to `ascii`.
std::size_t MatchNumber(std::wstring_view s, std::string& ascii) {
  std::size_t i = 0;
  ascii.clear();
  if (i < s.size() && (s[i] == L'+' || s[i] == L'-')) {
    if (s[i] == L'-') ascii += '-';
    ++i;
  }
  std::size_t digits = 0;
  const auto take_digits = [&] {
    while (i < s.size() && IsDigit(s[i])) {
      ascii += static_cast<char>(s[i++]);
      ++digits;
    }
  };
  take_digits();
  if (i < s.size() && s[i] == L'.') {
    ascii += '.';
    ++i;
    take_digits();
  }
  if (digits == 0) return 0;
  if (i < s.size() && (s[i] == L'e' || s[i] == L'E' || s[i] == L'd' || s[i] == L'D')) {
    std::size_t j = i + 1;
    std::string exponent = "e";
    if (j < s.size() && (s[j] == L'+' || s[j] == L'-')) exponent += static_cast<char>(s[j++]);
    const std::size_t first = j;
    while (j < s.size() && IsDigit(s[j])) exponent += static_cast<char>(s[j++]);
    if (j > first) {
      ascii += exponent;
      i = j;
    }
  }
  return i;
}

// from_chars rejects a leading "+" and a mantissa such as "5." or ".5" only in some
// spellings; normalise to what it always takes. A single is read straight from the digits:
// through a double first, it would be rounded twice and could miss the nearest single.
template <typename T>
Converted<T> ParseMatched(const std::string& ascii) {
  // Built by appending: GCC 12 at -O3 warns falsely (-Wrestrict) about std::string::insert.
  std::string text;
  const auto dot = ascii.find('.');
  if (dot != std::string::npos && (dot == 0 || ascii[dot - 1] == '-')) {
    text.append(ascii, 0, dot).append(1, '0').append(ascii, dot);
  } else {
    text = ascii;
  }
  T value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec == std::errc::result_out_of_range) {
    // Underflow to zero is harmless; only magnitude beyond the type is an overflow.
    double magnitude = 0;
    const bool known =
        std::from_chars(text.data(), text.data() + text.size(), magnitude).ec == std::errc();
    const auto e = text.find_first_of("eE");
    const bool tiny =
        known ? std::fabs(magnitude) < 1 : e != std::string::npos && text[e + 1] == '-';
    return {0, tiny ? Failure::kNone : Failure::kOverflow};
  }
  if (ec != std::errc() || end != text.data() + text.size()) return {0, Failure::kNotANumber};
  return {value, Failure::kNone};
}

template <typename T>
Converted<T> StrictNumber(std::wstring_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  const std::wstring_view core = text.substr(begin, end - begin);
  std::string ascii;
  if (core.empty() || MatchNumber(core, ascii) != core.size()) return {0, Failure::kNotANumber};
  return ParseMatched<T>(ascii);
}

// Halves go to the even neighbour: the default rounding mode of nearbyint.
template <typename T>
Converted<T> RoundToWhole(double value) {
  const double rounded = std::nearbyint(value);
  if (!(rounded >= static_cast<double>(std::numeric_limits<T>::min()) &&
        rounded <= static_cast<double>(std::numeric_limits<T>::max()))) {
    return {T{}, Failure::kOverflow};
  }
  return {static_cast<T>(rounded), Failure::kNone};
}

}  // namespace

Converted<float> StrictSingle(std::wstring_view text) {
  return StrictNumber<float>(text);
}

Converted<std::int32_t> StrictLong(std::wstring_view text) {
  const Converted<double> d = StrictNumber<double>(text);
  if (!d.ok()) return {0, d.failure};
  return RoundToWhole<std::int32_t>(d.value);
}

Converted<std::int16_t> LenientInteger(std::wstring_view text) {
  std::wstring packed;
  packed.reserve(text.size());
  for (wchar_t c : text) {
    if (c != L' ' && c != L'\t' && c != L'\n') packed += c;
  }
  std::string ascii;
  if (MatchNumber(packed, ascii) == 0) return {0, Failure::kNone};
  const Converted<double> d = ParseMatched<double>(ascii);
  if (!d.ok()) return {0, d.failure};
  return RoundToWhole<std::int16_t>(d.value);
}

std::wstring SingleToText(float value) {
  if (value == 0.0f || !std::isfinite(value)) return L"0";
  // Seven significant digits, as d.dddddde+XX.
  char buffer[32];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 6);
  std::string sci(buffer, result.ptr);
  const bool negative = sci[0] == '-';
  if (negative) sci.erase(0, 1);
  const auto e = sci.find('e');
  const int exponent = std::stoi(sci.substr(e + 1));
  std::string digits = sci.substr(0, 1) + sci.substr(2, e - 2);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::string out = negative ? "-" : "";
  if (exponent >= 7 || exponent < -4) {
    out += digits.substr(0, 1);
    if (digits.size() > 1) out.append(1, '.').append(digits, 1);
    out += exponent < 0 ? "E-" : "E+";
    const int magnitude = std::abs(exponent);
    if (magnitude < 10) out += '0';
    out += std::to_string(magnitude);
  } else if (exponent < 0) {
    out += "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
  } else {
    const auto whole = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= whole) {
      out += digits + std::string(whole - digits.size(), '0');
    } else {
      out += digits.substr(0, whole) + "." + digits.substr(whole);
    }
  }
  return std::wstring(out.begin(), out.end());
}

}  // namespace conversions
