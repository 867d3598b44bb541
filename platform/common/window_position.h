#pragma once
// The one check of a window position that both backends make before they move a window.

namespace platform {

// X and Windows keep window coordinates in 16 signed bits.
inline constexpr int kMaxPositionPixels = 32767;

// `twips` (the window's `edge`, "top" or "left") in whole pixels at `dpi` pixels to the inch; a
// RuntimeError naming the edge and the range when the screen cannot hold it.
int PositionPixels(const char* edge, float twips, int dpi = 96);

}  // namespace platform
