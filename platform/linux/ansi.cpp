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
    std::size_t length = utf8::Decode(bytes, pos, c);
    // A lone surrogate in the bytes is no valid text either: its bytes are carried one by one.
    if (length == 0 || IsSurrogate(c)) {
      c = kEscapeBase + static_cast<std::uint8_t>(bytes[pos]);
      length = 1;
    }
    out += static_cast<wchar_t>(c);
    pos += length;
  }
  return out;
}

std::string MessageText(const std::wstring& text) {
  return ToAnsi(text);
}

}  // namespace platform
