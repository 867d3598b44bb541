#include "monitor/log_text.h"

#include <algorithm>
#include <cstdio>

namespace log_text {

std::wstring StatusText(std::int32_t status) {
  return (status < 0 ? L"" : L" ") + std::to_wstring(status);
}

std::wstring TimeText(const platform::TimeOfDay& time) {
  wchar_t buffer[16];
  std::swprintf(buffer, std::size(buffer), L"%02d:%02d:%02d", time.hour, time.minute, time.second);
  return buffer;
}

std::uint32_t Rgb(std::int16_t red, std::int16_t green, std::int16_t blue) {
  const auto clamp = [](std::int16_t c) {
    return static_cast<std::uint32_t>(std::clamp<std::int16_t>(c, 0, 255));
  };
  return clamp(red) + 256u * clamp(green) + 65536u * clamp(blue);
}

std::wstring KeepNewestLines(const std::wstring& log, std::size_t limit) {
  if (log.size() <= limit) return log;
  // The last line end that still fits: search back from the limit for "\r\n" ending at or
  // before it.
  const std::size_t end = limit >= 2 ? log.rfind(L"\r\n", limit - 2) : std::wstring::npos;
  if (end == std::wstring::npos) return log.substr(0, limit);
  return log.substr(0, end + 2);
}

}  // namespace log_text
