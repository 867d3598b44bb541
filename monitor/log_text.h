#pragma once
// How the window turns numbers into what the log and the log box's colour show.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/window.h"

namespace log_text {

// " 0", " 11010", "-1": one blank before a number that is not negative.
std::wstring StatusText(std::int32_t status);
// "14:03:27"
std::wstring TimeText(const platform::TimeOfDay& time);
// red + 256 * green + 65536 * blue, each component held to 0..255.
std::uint32_t Rgb(std::int16_t red, std::int16_t green, std::int16_t blue);
// The newest (top) lines of `log` that fit in `limit` characters, cut only after a CR LF;
// a first line longer than `limit` is cut at `limit`.
std::wstring KeepNewestLines(const std::wstring& log, std::size_t limit);

}  // namespace log_text
