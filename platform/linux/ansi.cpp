// The code page here is UTF-8. A byte that does not belong to a valid sequence becomes the lone
// surrogate U+DC00 + byte, which strict UTF-8 can never produce, and turns back into that byte.

#include "platform/ansi.h"

#include <cstdint>

#include "platform/common/utf8.h"

namespace platform {
namespace {

static_assert(sizeof(wchar_t) == 4, "wide text holds whole code points here");

constexpr char32_t kEscapeBase = 0xDC00;
constexpr char32_t kReplacement = 0xFFFD;

bool IsSurrogate(char32_t c) {
  return c >= 0xD800 && c <= 0xDFFF;
}

// The code point of the valid sequence at `pos` and its length, or length 0 when the sequence
// there is not valid UTF-8 (overlong, surrogate, beyond U+10FFFF, cut short).
std::size_t DecodeAt(const std::string& bytes, std::size_t pos, char32_t& code_point) {
  static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  const auto lead = static_cast<std::uint8_t>(bytes[pos]);
  if (lead < 0x80) {
    code_point = lead;
    return 1;
  }
  // Continuation bytes, and leads that can only start overlong or too large sequences.
  if (lead < 0xC2 || lead > 0xF4) return 0;
  const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  if (bytes.size() - pos < length) return 0;
  char32_t c = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<std::uint8_t>(bytes[pos + i]);
    if ((next & 0xC0) != 0x80) return 0;
    c = (c << 6) | (next & 0x3F);
  }
  if (c < kSmallest[length] || c > 0x10FFFF || IsSurrogate(c)) return 0;
  code_point = c;
  return length;
}

}  // namespace

std::string ToAnsi(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t wc : text) {
    auto c = static_cast<char32_t>(wc);
    if (c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF) {
      out += static_cast<char>(c - kEscapeBase);
    } else {
      utf8::Append(out, (IsSurrogate(c) || c > 0x10FFFF) ? kReplacement : c);
    }
  }
  return out;
}

std::wstring FromAnsi(const std::string& bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  for (std::size_t pos = 0; pos < bytes.size();) {
    char32_t c = 0;
    std::size_t length = DecodeAt(bytes, pos, c);
    if (length == 0) {
      c = kEscapeBase + static_cast<std::uint8_t>(bytes[pos]);
      length = 1;
    }
    out += static_cast<wchar_t>(c);
    pos += length;
  }
  return out;
}

}  // namespace platform
