#include "platform/common/profile_encoding.h"

#include <cstdint>

#include "platform/common/profile_text.h"
#include "platform/common/utf8.h"

namespace platform::profile_encoding {
namespace {

constexpr std::string_view kLittle = "\xFF\xFE";
constexpr std::string_view kBig = "\xFE\xFF";

std::uint8_t Byte(std::string_view bytes, std::size_t i) {
  return static_cast<std::uint8_t>(bytes[i]);
}

bool IsAsciiText(std::uint8_t c) {
  return c == '\t' || c == '\n' || c == '\r' || (c >= 0x20 && c < 0x7F);
}

void AppendUnit(std::string& out, char32_t unit, bool big_endian) {
  const char high = static_cast<char>(unit >> 8);
  const char low = static_cast<char>(unit & 0xFF);
  out += big_endian ? high : low;
  out += big_endian ? low : high;
}

}  // namespace

std::optional<Utf16Text> DecodeUtf16(std::string_view bytes) {
  const bool little = bytes.starts_with(kLittle);
  if (!(little || bytes.starts_with(kBig)) || !UnreadableEncoding(bytes).empty()) {
    return std::nullopt;
  }
  Utf16Text decoded;
  decoded.big_endian = !little;
  const std::size_t end = bytes.size() - (bytes.size() % 2);
  decoded.tail = bytes.substr(end);
  decoded.text.reserve(end);
  auto unit = [&](std::size_t i) -> char32_t {
    return little ? Byte(bytes, i) | (Byte(bytes, i + 1) << 8)
                  : (Byte(bytes, i) << 8) | Byte(bytes, i + 1);
  };
  for (std::size_t i = 2; i < end; i += 2) {
    char32_t c = unit(i);
    if (c >= 0xD800 && c < 0xDC00 && i + 2 < end) {
      const char32_t next = unit(i + 2);
      if (next >= 0xDC00 && next < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
        i += 2;
      }
    }
    utf8::Append(decoded.text, c);
  }
  return decoded;
}

std::string EncodeUtf16(const Utf16Text& decoded) {
  std::string out(decoded.big_endian ? kBig : kLittle);
  out.reserve(2 + decoded.text.size() * 2 + decoded.tail.size());
  const std::string_view text = decoded.text;
  for (std::size_t pos = 0; pos < text.size();) {
    char32_t c = 0;
    std::size_t length = utf8::Decode(text, pos, c);
    if (length == 0) {
      c = 0xFFFD;
      length = 1;
    }
    pos += length;
    if (c >= 0x10000) {
      AppendUnit(out, 0xD800 + ((c - 0x10000) >> 10), decoded.big_endian);
      AppendUnit(out, 0xDC00 + ((c - 0x10000) & 0x3FF), decoded.big_endian);
    } else {
      AppendUnit(out, c, decoded.big_endian);
    }
  }
  return out + decoded.tail;
}

bool IsUtf8(std::string_view text) {
  for (std::size_t pos = 0; pos < text.size();) {
    char32_t c = 0;
    const std::size_t length = utf8::Decode(text, pos, c);
    if (length == 0 || (c >= 0xD800 && c < 0xE000)) return false;
    pos += length;
  }
  return true;
}

std::string_view UnreadableEncoding(std::string_view bytes) {
  if (bytes.size() >= 4) {
    if (bytes.starts_with(std::string_view("\xFF\xFE\0\0", 4)) ||
        bytes.starts_with(std::string_view("\0\0\xFE\xFF", 4))) {
      return "UTF-32";
    }
    // Without a mark, told by a first character that is plain ASCII text.
    const bool zero123 = Byte(bytes, 1) == 0 && Byte(bytes, 2) == 0;
    if ((zero123 && Byte(bytes, 3) == 0 && IsAsciiText(Byte(bytes, 0))) ||
        (Byte(bytes, 0) == 0 && zero123 && IsAsciiText(Byte(bytes, 3)))) {
      return "UTF-32";
    }
  }
  if (bytes.size() >= 2 && !bytes.starts_with(kLittle) && !bytes.starts_with(kBig) &&
      ((IsAsciiText(Byte(bytes, 0)) && Byte(bytes, 1) == 0) ||
       (Byte(bytes, 0) == 0 && IsAsciiText(Byte(bytes, 1))))) {
    return "UTF-16 without a byte-order mark";
  }
  return {};
}

std::string Refusal(std::string_view encoding) {
  return "it is in " + std::string(encoding) +
         ", which korvi cannot read; save it as UTF-8, ANSI or UTF-16 with a byte-order mark";
}

Rewritten Rewrite(std::string_view file, const Entry& utf8, const std::optional<Entry>& ansi,
                  std::string_view default_eol) {
  Rewritten result;
  auto utf16 = DecodeUtf16(file);
  const bool unicode = utf16 || file.starts_with("\xEF\xBB\xBF");
  const Entry& entry = unicode || !ansi ? utf8 : *ansi;
  if (const auto encoding = UnreadableEncoding(file); !encoding.empty()) {
    result.refusal = Refusal(encoding);
  } else if (!unicode && !ansi) {
    result.refusal = "the section, key or value has no form in the system's code page";
  } else if (utf16 && !(IsUtf8(entry.section) && IsUtf8(entry.key) && IsUtf8(entry.value))) {
    result.refusal = "the section, key or value is not text that a UTF-16 file can hold";
  } else {
    result.refusal = profile_text::RefusalReason(entry.section, entry.key, entry.value);
  }
  const std::string_view text = utf16 ? std::string_view(utf16->text) : file;
  if (!result.refusal.empty() ||
      profile_text::FindValue(text, entry.section, entry.key) == entry.value) {
    return result;
  }
  result.bytes = profile_text::ApplyWrite(text, entry.section, entry.key, entry.value, default_eol);
  if (utf16) {
    utf16->text = std::move(result.bytes);
    result.bytes = EncodeUtf16(*utf16);
  }
  result.changed = result.bytes != file;
  return result;
}

}  // namespace platform::profile_encoding
