#include "platform/common/window_on_screen.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace platform {
namespace {

bool Overlap(const PixelRect& a, const PixelRect& b) {
  return a.left < b.left + b.width && b.left < a.left + a.width && a.top < b.top + b.height &&
         b.top < a.top + a.height;
}

// The gap between two ranges on one axis; 0 when they overlap.
std::int64_t Gap(int a, int a_size, int b, int b_size) {
  if (std::int64_t(a) + a_size <= b) return std::int64_t(b) - a - a_size;
  if (std::int64_t(b) + b_size <= a) return std::int64_t(a) - b - b_size;
  return 0;
}

// Inside [low, low + room); a window larger than the room keeps its top or left edge on it.
int Within(int at, int size, int low, int room) {
  return std::max(low, std::min(at, low + room - size));
}

}  // namespace

PixelPoint NearestPlaceOnScreen(PixelRect frame, std::span<const ScreenArea> screens) {
  const ScreenArea* nearest = nullptr;
  std::int64_t nearest_distance = std::numeric_limits<std::int64_t>::max();
  for (const ScreenArea& screen : screens) {
    const std::int64_t dx = Gap(frame.left, frame.width, screen.bounds.left, screen.bounds.width);
    const std::int64_t dy = Gap(frame.top, frame.height, screen.bounds.top, screen.bounds.height);
    if (dx * dx + dy * dy < nearest_distance) {
      nearest_distance = dx * dx + dy * dy;
      nearest = &screen;
    }
  }
  if (nearest == nullptr) return {frame.left, frame.top};
  const PixelRect& work = nearest->work;
  return {Within(frame.left, frame.width, work.left, work.width),
          Within(frame.top, frame.height, work.top, work.height)};
}

std::optional<PixelPoint> ReachablePlace(PixelRect frame, int title_height,
                                         std::span<const ScreenArea> screens) {
  const PixelRect title{frame.left, frame.top, frame.width, std::max(title_height, 1)};
  if (screens.empty()) return std::nullopt;
  for (const ScreenArea& screen : screens) {
    if (Overlap(title, screen.bounds)) return std::nullopt;
  }
  return NearestPlaceOnScreen(frame, screens);
}

}  // namespace platform
