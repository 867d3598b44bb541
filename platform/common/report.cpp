#include "platform/report.h"

#include <cstdio>

namespace platform {

void Report(std::string_view message) {
  std::string line = "korvi: ";
  line.append(message).append(1, '\n');
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

std::string Escaped(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (const unsigned char c : bytes) {
    if (c < 0x20 || c == 0x7f || c == '"') {
      out.append("\\x").append(1, kHex[c >> 4]).append(1, kHex[c & 15]);
    } else {
      out.append(1, static_cast<char>(c));
    }
  }
  return out;
}

std::string Quoted(std::string_view bytes) {
  // Appended: GCC 12 at -O3 warns falsely (-Wrestrict) about "\"" + std::string.
  std::string out(1, '"');
  return out.append(Escaped(bytes)).append(1, '"');
}

std::string ShellQuoted(std::string_view bytes) {
  std::string out(1, '\'');
  for (const char c : bytes) {
    if (c == '\'') {
      out.append("'\\''");
    } else {
      out.append(1, c);
    }
  }
  return out.append(1, '\'');
}

}  // namespace platform
