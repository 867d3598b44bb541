#pragma once
// Where a window goes when the user could not reach it where it was put: a position saved
// while a second monitor was attached, or one off every screen.

#include <optional>
#include <span>

namespace platform {

struct PixelRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

struct ScreenArea {
  PixelRect bounds;
  PixelRect work;  // the part that panels leave free
};

struct PixelPoint {
  int left = 0;
  int top = 0;
};

// The top-left corner that puts `frame` wholly inside the work area of the screen nearest to it,
// as close to where it was as that allows (a frame larger than the work area keeps its top and
// left edges in it); where it is when there is no screen.
PixelPoint NearestPlaceOnScreen(PixelRect frame, std::span<const ScreenArea> screens);

// nullopt while some part of the window's title bar (the top `title_height` rows of `frame`,
// at least one) lies on one of `screens`, or when there is no screen; otherwise its
// NearestPlaceOnScreen.
std::optional<PixelPoint> ReachablePlace(PixelRect frame, int title_height,
                                         std::span<const ScreenArea> screens);

}  // namespace platform
