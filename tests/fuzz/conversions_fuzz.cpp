// Any text through the strict and lenient conversions, and any single-precision number through
// number-to-text and back. The first byte picks which.
//   text:   the two strict readings agree on what is a number, and the lenient one, which
//           skips blanks, reads every plain number the strict one accepts the same way;
//   number: the text has at most 7 significant digits, no trailing zeros and no leading blank,
//           and reads back as the same number, exactly when 7 digits suffice to name it.

#include <fuzzer/FuzzedDataProvider.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "monitor/conversions.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using conversions::Failure;

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

// Bytes as characters; 0xFF takes the next two bytes as one wide character, so that digits
// and blanks from beyond ASCII turn up too.
std::wstring WideText(const std::vector<std::uint8_t>& bytes) {
  std::wstring text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == 0xFF && i + 2 < bytes.size()) {
      text += static_cast<wchar_t>(bytes[i + 1] << 8 | bytes[i + 2]);
      i += 2;
    } else {
      text += static_cast<wchar_t>(bytes[i]);
    }
  }
  return text;
}

int SignificantDigits(const std::string& number) {
  const std::string mantissa = number.substr(0, number.find_first_of("eE"));
  const std::size_t first = mantissa.find_first_of("123456789");
  if (first == std::string::npos) return 0;
  int digits = 0;
  for (std::size_t i = first; i < mantissa.size(); ++i) digits += mantissa[i] != '.';
  return digits;
}

void CheckText(const std::wstring& text) {
  const auto single = conversions::StrictSingle(text);
  const auto whole = conversions::StrictLong(text);
  const auto lenient = conversions::LenientInteger(text);
  FUZZ_CHECK((single.failure == Failure::kNotANumber) == (whole.failure == Failure::kNotANumber));
  // Whatever fits 32 bits fits a single.
  FUZZ_CHECK(!whole.ok() || single.ok());
  if (whole.ok() && whole.value >= -32768 && whole.value <= 32767) {
    FUZZ_CHECK(lenient.ok());
    FUZZ_CHECK_EQ(std::to_string(lenient.value), std::to_string(whole.value));
  }
  if (single.ok()) {
    FUZZ_CHECK(std::isfinite(single.value));
    FUZZ_CHECK(conversions::StrictSingle(conversions::SingleToText(single.value)).ok());
  }
}

void CheckNumber(float value) {
  const std::wstring wide = conversions::SingleToText(value);
  const std::string text = Narrow(wide);
  FUZZ_CHECK(!text.empty() && text.front() != ' ');
  FUZZ_CHECK(SignificantDigits(text) <= 7);
  const std::string mantissa = text.substr(0, text.find('E'));
  FUZZ_CHECK(mantissa.find('.') == std::string::npos || mantissa.back() != '0');
  FUZZ_CHECK(mantissa.back() != '.');

  const auto back = conversions::StrictSingle(wide);
  FUZZ_CHECK(back.ok());
  if (!std::isfinite(value)) return;
  char shortest[64];
  const auto end = std::to_chars(shortest, shortest + sizeof shortest, value).ptr;
  const std::string detail = std::string(shortest, end) + " -> " + text;
  if (SignificantDigits(std::string(shortest, end)) <= 7) {
    if (back.value != value) fuzz::Fail(__FILE__, __LINE__, "read back exactly", detail);
    return;
  }
  // Off by at most half a unit in the seventh digit, plus the single's own rounding.
  const double unit = std::pow(10.0, std::floor(std::log10(std::fabs(double(value)))) - 6);
  // The spacing below the result: never more than the spacing on the side it was rounded from.
  const double ulp = std::fabs(back.value) - std::nextafter(std::fabs(back.value), 0.0f);
  if (!(std::fabs(double(back.value) - double(value)) <= 0.5 * unit + ulp)) {
    fuzz::Fail(__FILE__, __LINE__, "read back within the 7-digit rounding", detail);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  if (in.ConsumeBool()) {
    CheckText(WideText(in.ConsumeRemainingBytes<std::uint8_t>()));
  } else {
    const auto bits = in.ConsumeIntegral<std::uint32_t>();
    float value;
    std::memcpy(&value, &bits, sizeof value);
    CheckNumber(value);
  }
  return 0;
}
