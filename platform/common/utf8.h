#pragma once
// UTF-8 one code point at a time. Surrogates pass both ways as they come: the callers use them
// to carry bytes that were not valid text, and decide themselves whether to take them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform::utf8 {

// The code point at `pos` and its length; anything that is not shortest-form UTF-8 up to
// U+10FFFF (surrogates aside) gives length 0.
inline std::size_t Decode(std::string_view text, std::size_t pos, char32_t& c) {
  static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  const auto byte = [&text](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const std::uint8_t lead = byte(pos);
  if (lead < 0x80) {
    c = lead;
    return 1;
  }
  // Continuation bytes, and leads that can only start overlong or too large sequences.
  if (lead < 0xC2 || lead > 0xF4) return 0;
  const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  if (text.size() - pos < length) return 0;
  c = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(pos + i) & 0xC0) != 0x80) return 0;
    c = (c << 6) | (byte(pos + i) & 0x3F);
  }
  return c >= kSmallest[length] && c <= 0x10FFFF ? length : 0;
}

inline void Append(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace platform::utf8
