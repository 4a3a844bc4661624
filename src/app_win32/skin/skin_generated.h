// Written by skivaddon-skin-render (scripts/render-skin); do not edit.
#pragma once

namespace skiv::win32 {

// Resource number of an image at scale 2: its number plus this.
inline constexpr int kScale2Offset = 1000;
// Hot spot of the hand cursor in image pixels, by scale (1, 2).
inline constexpr int kHandHotSpot[2][2] = {{11, 1}, {22, 2}};

}  // namespace skiv::win32
