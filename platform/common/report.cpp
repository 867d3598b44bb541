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
    if (c < 0x20 || c == 0x7f || c == '"' || c == '\\') {
      out.append("\\x").append(1, kHex[c >> 4]).append(1, kHex[c & 15]);
    } else {
      out.append(1, static_cast<char>(c));
    }
  }
  return out;
}

}  // namespace platform
