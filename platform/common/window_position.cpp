#include "platform/common/window_position.h"

#include <cmath>
#include <string>

#include "platform/window.h"

namespace platform {

int PositionPixels(const char* edge, float twips, int dpi) {
  const double pixels = std::round(static_cast<double>(twips) * dpi / kTwipsPerInch);
  if (!(std::fabs(pixels) <= kMaxPositionPixels)) {
    // The value itself is the caller's to show, as the settings file holds it.
    const std::string limit = std::to_string(kMaxPositionPixels * kTwipsPerInch / dpi);
    throw RuntimeError("a window's " + std::string(edge) + " must lie between -" + limit + " and " +
                       limit + " twips (" + std::to_string(kMaxPositionPixels) +
                       " pixels either side of the screen's corner)");
  }
  return static_cast<int>(pixels);
}

}  // namespace platform
