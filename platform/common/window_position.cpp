#include "platform/common/window_position.h"

#include <cmath>
#include <string>

#include "platform/window.h"

namespace platform {

int PositionPixels(const char* edge, float twips) {
  const double pixels = std::round(static_cast<double>(twips) / kTwipsPerPixel);
  if (!(std::fabs(pixels) <= kMaxPositionPixels)) {
    const std::string limit = std::to_string(kMaxPositionPixels * kTwipsPerPixel);
    throw RuntimeError("the window cannot be placed at " + std::string(edge) + " = " +
                       std::to_string(twips) + " twips: a position must lie between -" + limit +
                       " and " + limit + " twips (" + std::to_string(kMaxPositionPixels) +
                       " pixels either side of the screen's corner)");
  }
  return static_cast<int>(pixels);
}

}  // namespace platform
