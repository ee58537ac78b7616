#include "PlotRenderer.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <initializer_list>
#include <string_view>
#include <utility>

namespace {

// Geometry constants of the two plots. The bar fractions are single-precision values widened
// to double; the limit lines start at the double 0.031, which differs from the bars' first
// fraction in the last digits, so both are kept.
constexpr double PlotBottomFraction = 0.7;
constexpr double LeftPlotRightFraction = 0.45;
constexpr double RightPlotLeftFraction = 0.55;
constexpr int PlotTopOffset = 60;
constexpr int PlotMargin = 4;
constexpr double TopLevel = 20.0;
constexpr double FractionPerDb = 0.00625;
constexpr double FirstBarFraction = static_cast<double>(0.031f);
constexpr double BarFractionStep = static_cast<double>(0.036f);
constexpr double BarFractionEnd = static_cast<double>(0.98f);
constexpr double LimitLineStartFraction = 0.031;
// The -137 dB level as a fraction of the plot height below the top: the top of the error marks.
constexpr double ErrorMarkTopFraction = -157 * 0.00625;

constexpr Colour LabelBackground = Rgb(200, 200, 200);
constexpr Colour LabelText = Rgb(0, 0, 0);

// A level or position becomes a pixel coordinate by truncation toward zero. A NaN or a level
// far off the window (an infinite dB value, say) cannot be converted as it is, so it is pinned:
// NaN to 0 and anything else to a range far outside any window but safe for further integer
// arithmetic.
constexpr double PixelLimit = 1.0e6;
int Pixel(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value > PixelLimit) {
        return static_cast<int>(PixelLimit);
    }
    if (value < -PixelLimit) {
        return static_cast<int>(-PixelLimit);
    }
    return static_cast<int>(value);
}

struct PlotGeometry {
    int left;
    int top;
    int right;
    int bottom;
    int width;
    int height;

    explicit PlotGeometry(const PlotRect& rect)
        : left(rect.left),
          top(rect.top),
          right(rect.right),
          bottom(rect.bottom),
          width(rect.right - rect.left),
          height(rect.bottom - rect.top) {}

    // y of a level in dB: +20 dB at the top edge, -140 dB at the bottom edge, nothing clipped.
    int Level(double db) const { return top - Pixel((height * (db - TopLevel)) * FractionPerDb); }

    int BinPosition(double fraction) const { return Pixel(width * fraction + left); }
};

using BarFractions = std::array<double, DrawnBinCount>;

// The bar fractions run from the first one in equal steps and stop before the first sum that
// reaches the end fraction; that gives exactly one fraction per drawn bin.
BarFractions MakeBarFractions() {
    BarFractions fractions{};
    double fraction = FirstBarFraction;
    for (int k = 0; k < DrawnBinCount && fraction < BarFractionEnd; ++k) {
        fractions[static_cast<std::size_t>(k)] = fraction;
        fraction += BarFractionStep;
    }
    return fractions;
}

PlotRect Normalised(PlotRect rect) {
    if (rect.left > rect.right) {
        std::swap(rect.left, rect.right);
    }
    if (rect.top > rect.bottom) {
        std::swap(rect.top, rect.bottom);
    }
    return rect;
}

// Both plots' rectangles from the client rectangle: the left one from the margin to 45 % of the
// width, the right one from 55 % to the margin, both from 60 px below the top to 70 % of the
// height.
void ComputePlotRects(SpectrumStore& store, PlotRect client) {
    PlotRect& x = store.plotRectX;
    x = Normalised(client);
    x.bottom = Pixel(x.bottom * PlotBottomFraction);
    x.top = x.top + PlotTopOffset;
    x.left = x.left + PlotMargin;
    x.right = Pixel(x.right * LeftPlotRightFraction);

    PlotRect& y = store.plotRectY;
    y = Normalised(client);
    y.bottom = Pixel(y.bottom * PlotBottomFraction);
    y.top = y.top + PlotTopOffset;
    y.left = Pixel(y.right * RightPlotLeftFraction);
    y.right = y.right - PlotMargin;
}

void DrawFrame(Canvas& canvas, const PlotRect& rect) {
    canvas.Rectangle(rect.left, rect.top, rect.right, rect.bottom);
}

// The dB scale stands once, in the gap right of the left plot.
void DrawLabels(Canvas& canvas, const PlotGeometry& plot) {
    canvas.SetBkColor(LabelBackground);
    canvas.SetTextColor(LabelText);
    const int x = plot.right + 10;
    const int h = plot.height;
    canvas.TextOut(x, plot.top - 7, "+20");
    canvas.TextOut(x, plot.top - Pixel(h * -0.25) - 8, "-20");
    canvas.TextOut(x, plot.top - Pixel(h * -0.5) - 8, "-60");
    canvas.TextOut(x, plot.top - Pixel(h * -0.75) - 8, "-100");
    canvas.TextOut(x, plot.bottom - 10, "-140");
}

void DrawGrid(Canvas& canvas, const PlotGeometry& left, const PlotGeometry& right) {
    for (double f = 0.25; f < 1.0; f += 0.25) {
        for (const PlotGeometry* plot : {&left, &right}) {
            const int y = plot->top + Pixel(plot->height * f);
            canvas.MoveTo(plot->left + 1, y);
            canvas.LineTo(plot->right - 1, y);
        }
    }
}

// What one plot draws and latches: its shown values, limits, errors and hover flags.
struct PlotData {
    const SpectrumArray& shown;
    const SpectrumArray& maxLimit;
    const SpectrumArray& minLimit;
    SpectrumArray& error;
    const HoverFlags& hover;
};

// One bar: red when out of limits or under the mouse, green otherwise. An out-of-limit value
// is latched as the bin's error, except while the bin is under the mouse, so pointing at a bar
// to edit its limits does not record it.
void DrawBar(Canvas& canvas, const PlotGeometry& plot, PlotData data, int bin, double fraction,
             const Pen& green, const Pen& red) {
    const auto b = static_cast<std::size_t>(bin);
    const int x = plot.BinPosition(fraction) - 2;
    canvas.MoveTo(x, plot.bottom - 2);
    const double v = data.shown[b];
    const bool outOfLimits = v > data.maxLimit[b] || !(v >= data.minLimit[b]);
    const bool hovered = data.hover[b] == 1;
    if (outOfLimits || hovered) {
        canvas.SelectPen(&red);
        if (!hovered) {
            data.error[b] = v;
        }
    } else {
        canvas.SelectPen(&green);
    }
    canvas.LineTo(x, plot.Level(v) - 1);
}

void DrawErrorMark(Canvas& canvas, const PlotGeometry& plot, const SpectrumArray& error, int bin,
                   double fraction) {
    const int x = plot.BinPosition(fraction) - 2;
    canvas.MoveTo(x, plot.bottom - 2);
    if (error[static_cast<std::size_t>(bin)] > NoErrorLevel) {
        canvas.LineTo(x, plot.top - Pixel(plot.height * ErrorMarkTopFraction) - 1);
    }
}

// A limit traced bin by bin: a level segment from two pixels left to two pixels right of each
// bar, joined to the next one by a straight line.
void DrawLimitLine(Canvas& canvas, const PlotGeometry& plot, const SpectrumArray& limit,
                   const BarFractions& fractions) {
    canvas.MoveTo(Pixel(plot.width * LimitLineStartFraction + plot.left) - 4,
                  plot.Level(limit[FirstDrawnBin]) + 1);
    for (int k = 0; k < DrawnBinCount; ++k) {
        const int p = plot.BinPosition(fractions[static_cast<std::size_t>(k)]);
        const int y = plot.Level(limit[static_cast<std::size_t>(FirstDrawnBin + k)]);
        canvas.LineTo(p - 4, y);
        canvas.LineTo(p, y);
    }
}

}  // namespace

void PaintSpectrumPlots(Canvas& canvas, SpectrumStore& store, PlotRect client, PaintHost& host) {
    ComputePlotRects(store, client);
    DrawFrame(canvas, store.plotRectX);
    DrawFrame(canvas, store.plotRectY);

    const Pen green{3, Rgb(0, 170, 0)};
    const Pen red{3, Rgb(200, 0, 0)};
    const Pen grid{1, Rgb(220, 220, 220)};
    const Pen limit{1, Rgb(0, 0, 0)};

    const PlotGeometry left(store.plotRectX);
    const PlotGeometry right(store.plotRectY);
    DrawLabels(canvas, left);

    const Pen* const original = canvas.SelectPen(&grid);
    DrawGrid(canvas, left, right);
    canvas.SelectPen(original);

    if (host.PullDisplaySelect() == 1) {
        store.ShowErrors();
    }

    const PlotData dataX{store.shownX, store.maxLimitX, store.minLimitX, store.errorX,
                         store.hoverX};
    const PlotData dataY{store.shownY, store.maxLimitY, store.minLimitY, store.errorY,
                         store.hoverY};
    const BarFractions fractions = MakeBarFractions();
    for (int k = 0; k < DrawnBinCount; ++k) {
        const double f = fractions[static_cast<std::size_t>(k)];
        DrawBar(canvas, left, dataX, FirstDrawnBin + k, f, green, red);
        DrawBar(canvas, right, dataY, FirstDrawnBin + k, f, green, red);
    }

    canvas.SelectPen(&red);
    for (int k = 0; k < DrawnBinCount; ++k) {
        const double f = fractions[static_cast<std::size_t>(k)];
        DrawErrorMark(canvas, left, store.errorX, FirstDrawnBin + k, f);
        DrawErrorMark(canvas, right, store.errorY, FirstDrawnBin + k, f);
    }

    canvas.SelectPen(&limit);
    DrawLimitLine(canvas, left, store.maxLimitX, fractions);
    DrawLimitLine(canvas, left, store.minLimitX, fractions);
    DrawLimitLine(canvas, right, store.maxLimitY, fractions);
    DrawLimitLine(canvas, right, store.minLimitY, fractions);

    // None of this paint's pens may stay selected once they go out of scope.
    canvas.SelectPen(original);
    store.ClearLive();
    host.DefaultProcessing();
}
