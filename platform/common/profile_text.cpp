#include "platform/common/profile_text.h"

#include <algorithm>
#include <cstddef>

namespace platform::profile_text {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

struct Line {
  std::size_t begin = 0;
  std::size_t end = 0;   // end of the content, before the line ending
  std::size_t next = 0;  // start of the following line; == end when the file ends unterminated
};

enum class Kind { kOther, kSection, kKey };

struct Parsed {
  Kind kind = Kind::kOther;
  std::string_view name;
  std::size_t value_begin = 0;  // offsets into the whole text, for kKey
  std::size_t value_end = 0;
  bool comment = false;
};

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

char FoldAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return FoldAscii(x) == FoldAscii(y);
         });
}

std::size_t ContentStart(std::string_view text) {
  return text.starts_with(kBom) ? kBom.size() : 0;
}

Line LineAt(std::string_view text, std::size_t pos) {
  Line line{pos, text.find_first_of("\r\n", pos), 0};
  if (line.end == std::string_view::npos) {
    line.end = line.next = text.size();
  } else {
    bool crlf = text[line.end] == '\r' && line.end + 1 < text.size() && text[line.end + 1] == '\n';
    line.next = line.end + (crlf ? 2 : 1);
  }
  return line;
}

std::string_view TrimBlanks(std::string_view name) {
  while (!name.empty() && IsBlank(name.front())) name.remove_prefix(1);
  while (!name.empty() && IsBlank(name.back())) name.remove_suffix(1);
  return name;
}

Parsed Parse(std::string_view text, const Line& line) {
  std::size_t b = line.begin;
  std::size_t e = line.end;
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  Parsed parsed;
  if (b == e) return parsed;
  std::string_view content = text.substr(b, e - b);
  if (content.front() == '[') {
    std::size_t close = content.rfind(']');
    if (close != std::string_view::npos && close > 0) {
      // "[ main ]" names the section "main", as the system's reader has it.
      parsed.kind = Kind::kSection;
      parsed.name = TrimBlanks(content.substr(1, close - 1));
    }
    return parsed;
  }
  std::size_t eq = content.find('=');
  if (eq == std::string_view::npos) return parsed;
  std::string_view name = content.substr(0, eq);
  while (!name.empty() && IsBlank(name.back())) name.remove_suffix(1);
  parsed.kind = Kind::kKey;
  parsed.name = name;
  parsed.comment = content.front() == ';' || content.front() == '#';
  std::size_t vb = b + eq + 1;
  while (vb < e && IsBlank(text[vb])) ++vb;
  parsed.value_begin = vb < e ? vb : b + eq + 1;
  parsed.value_end = vb < e ? e : b + eq + 1;
  return parsed;
}

std::string_view EolOf(std::string_view text, std::string_view fallback) {
  std::size_t pos = text.find_first_of("\r\n");
  if (pos == std::string_view::npos) return fallback;
  if (text[pos] == '\n') return "\n";
  return pos + 1 < text.size() && text[pos + 1] == '\n' ? "\r\n" : "\r";
}

}  // namespace

std::optional<std::string_view> FindValue(std::string_view text, std::string_view section,
                                          std::string_view key) {
  // Names in the file are read without the blanks around them; so are the names asked for.
  section = TrimBlanks(section);
  key = TrimBlanks(key);
  bool in_section = false;
  for (std::size_t pos = ContentStart(text); pos < text.size();) {
    Line line = LineAt(text, pos);
    pos = line.next;
    Parsed parsed = Parse(text, line);
    if (parsed.kind == Kind::kSection) {
      // Only the first section of a name counts, as with the system's own reader.
      if (in_section) return std::nullopt;
      in_section = SameName(parsed.name, section);
    } else if (in_section && parsed.kind == Kind::kKey && SameName(parsed.name, key)) {
      std::string_view value =
          text.substr(parsed.value_begin, parsed.value_end - parsed.value_begin);
      if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
          value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
      }
      return value;
    }
  }
  return std::nullopt;
}

std::string RefusalReason(std::string_view section, std::string_view key, std::string_view value) {
  struct Field {
    const char* what;
    std::string_view text;
  };
  for (const Field& field : {Field{"section", section}, Field{"key", key}, Field{"value", value}}) {
    if (field.text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
      return std::string("the ") + field.what + " contains a line break or NUL character";
    }
  }
  if (key.empty()) return "the key is empty";
  if (key.find('=') != std::string_view::npos) return "the key contains \"=\"";
  if (key.front() == '[') return "the key starts with \"[\"";
  if (IsBlank(key.front()) || IsBlank(key.back())) return "the key starts or ends with a blank";
  return {};
}

std::string ApplyWrite(std::string_view text, std::string_view section, std::string_view key,
                       std::string_view value, std::string_view default_eol) {
  // Found by the name the reader would look it up by.
  section = TrimBlanks(section);
  const std::string_view eol = EolOf(text, default_eol);
  std::string entry = std::string(key) + "=" + std::string(value);

  bool in_section = false;
  bool found_section = false;
  Line anchor;  // the line a new key goes after: the section's last key, or its header
  for (std::size_t pos = ContentStart(text); pos < text.size();) {
    Line line = LineAt(text, pos);
    pos = line.next;
    Parsed parsed = Parse(text, line);
    if (parsed.kind == Kind::kSection) {
      if (in_section) break;
      if (!found_section && SameName(parsed.name, section)) {
        in_section = found_section = true;
        anchor = line;
      }
    } else if (in_section && parsed.kind == Kind::kKey) {
      if (SameName(parsed.name, key)) {
        std::string out(text.substr(0, parsed.value_begin));
        out.append(value);
        out.append(text.substr(parsed.value_end));
        return out;
      }
      if (!parsed.comment) anchor = line;
    }
  }

  std::string out;
  out.reserve(text.size() + section.size() + entry.size() + 8);
  if (found_section) {
    out.append(text.substr(0, anchor.next));
    if (anchor.next == anchor.end) out.append(eol);
    // A lone CR in front of a line that starts with LF would join the two into one CR LF and
    // swallow that empty line.
    const bool joins = eol == "\r" && anchor.next < text.size() && text[anchor.next] == '\n';
    out.append(entry).append(joins ? "\r\n" : eol);
    out.append(text.substr(anchor.next));
    return out;
  }
  out.append(text);
  if (out.size() > ContentStart(text) && out.back() != '\n' && out.back() != '\r') out.append(eol);
  out.append("[").append(section).append("]").append(eol);
  out.append(entry).append(eol);
  return out;
}

}  // namespace platform::profile_text
