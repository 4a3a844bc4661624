#pragma once
// Dialog-unit geometry: the window layouts were drawn in dialog units
// (x in quarters, y in eighths of the dialog font's base units) and are
// converted edge by edge with rounding, as the layouts expect.

#include <QRect>

namespace skiv::app {

// a * b / c rounded half away from zero.
constexpr int MulDiv(int a, int b, int c) {
    const long long n = static_cast<long long>(a) * b;
    return static_cast<int>(n >= 0 ? (n + c / 2) / c : -((-n + c / 2) / c));
}

// A template rectangle (x, y, width, height in dialog units) in pixels for
// base units baseX x baseY.
constexpr QRect MapDialogRect(int x, int y, int w, int h, int baseX, int baseY) {
    const int left = MulDiv(x, baseX, 4), right = MulDiv(x + w, baseX, 4);
    const int top = MulDiv(y, baseY, 8), bottom = MulDiv(y + h, baseY, 8);
    return QRect(left, top, right - left, bottom - top);
}

}  // namespace skiv::app
