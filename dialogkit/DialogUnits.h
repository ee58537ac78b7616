// Dialog units to pixels. Both dialogs of the program are laid out in dialog units of their 8-point
// font, whose base units are 6 x 13 pixels: a horizontal unit is a quarter of 6 pixels, a vertical
// unit an eighth of 13. Each coordinate and extent converts on its own, rounded to the nearest
// pixel (halves away from zero), as the dialog manager's MulDiv does. The main dialog's 320 x 200
// units give the 480 x 325 pixel client area that the plot geometry assumes.
#pragma once

#include <QRect>
#include <QSize>

// Pixel size of the font of both dialogs and their boxes: every control text fits its control at
// this size.
inline constexpr int DialogFontPixels = 10;

inline constexpr int DialogBaseUnitX = 6;
inline constexpr int DialogBaseUnitY = 13;

constexpr int MulDivRounded(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>((product >= 0 ? product + half : product - half) / denominator);
}

constexpr int DialogUnitsToPixelsX(int x) {
    return MulDivRounded(x, DialogBaseUnitX, 4);
}
constexpr int DialogUnitsToPixelsY(int y) {
    return MulDivRounded(y, DialogBaseUnitY, 8);
}

inline QRect DialogRect(int x, int y, int width, int height) {
    return QRect(DialogUnitsToPixelsX(x), DialogUnitsToPixelsY(y), DialogUnitsToPixelsX(width),
                 DialogUnitsToPixelsY(height));
}

inline QSize DialogSize(int width, int height) {
    return QSize(DialogUnitsToPixelsX(width), DialogUnitsToPixelsY(height));
}
