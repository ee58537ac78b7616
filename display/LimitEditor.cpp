#include "LimitEditor.h"

#include <array>
#include <cstddef>

namespace {

// The area in which the pointer is over the plots, all four bounds included.
constexpr int ActiveLeft = 5;
constexpr int ActiveRight = 474;
constexpr int ActiveTop = 62;
constexpr int ActiveBottom = 223;
// Pointer x from which the right plot is meant.
constexpr int RightSideFrom = 215;

constexpr double LowestLimit = -139.0;
constexpr double HighestLimit = 19.0;

struct Band {
    int from;
    int to;
};
using BandTable = std::array<Band, DrawnBinCount>;

// The x range over which each drawn bin counts as pointed at, bins 5..31 in order. These are
// fixed: they enclose the bars of the window at its fixed client size of 480 x 325 and
// follow one another without gap or overlap.
constexpr BandTable LeftBands = {
    {{4, 12},    {13, 20},   {21, 27},   {28, 35},   {36, 42},   {43, 50},   {51, 58},
     {59, 65},   {66, 73},   {74, 80},   {81, 88},   {89, 96},   {97, 104},  {105, 111},
     {112, 119}, {120, 127}, {128, 134}, {135, 142}, {143, 149}, {150, 157}, {158, 165},
     {166, 172}, {173, 180}, {181, 188}, {189, 195}, {196, 203}, {204, 212}}};
constexpr BandTable RightBands = {
    {{265, 272}, {273, 280}, {281, 288}, {289, 295}, {296, 303}, {304, 311}, {312, 318},
     {319, 326}, {327, 333}, {334, 341}, {342, 348}, {349, 356}, {357, 364}, {365, 372},
     {373, 380}, {381, 387}, {388, 395}, {396, 402}, {403, 409}, {410, 417}, {418, 425},
     {426, 432}, {433, 440}, {441, 448}, {449, 455}, {456, 463}, {464, 473}}};

// The limit array that a click edits, or none while nothing has been selected.
SpectrumArray* SelectedLimits(SpectrumStore& store, int limitSelect) {
    const bool upper = limitSelect == 0;
    switch (store.selectedPlot) {
        case PlotX:
            return upper ? &store.maxLimitX : &store.minLimitX;
        case PlotY:
            return upper ? &store.maxLimitY : &store.minLimitY;
        default:
            return nullptr;
    }
}

// The selected entry of the edited array, or none. The selection only ever holds a drawn bin,
// but the store is plain data, so an index outside the arrays is refused rather than used.
double* SelectedLimit(SpectrumStore& store, int limitSelect) {
    SpectrumArray* limits = SelectedLimits(store, limitSelect);
    if (limits == nullptr || store.selectedBin < 0 || store.selectedBin >= SpectrumSize) {
        return nullptr;
    }
    return &(*limits)[static_cast<std::size_t>(store.selectedBin)];
}

// Lowered limits stop at the bottom only; NaN is not at or above the floor, so it goes there too.
double ClampLow(double value) {
    return !(value >= LowestLimit) ? LowestLimit : value;
}

// Raised limits stop at the top only.
double ClampHigh(double value) {
    return value > HighestLimit ? HighestLimit : value;
}

}  // namespace

bool TrackPointer(SpectrumStore& store, int x, int y) {
    if (x < ActiveLeft || x > ActiveRight || y < ActiveTop || y > ActiveBottom) {
        store.ClearHover();
        return false;
    }
    const bool left = x < RightSideFrom;
    const BandTable& bands = left ? LeftBands : RightBands;
    HoverFlags& hover = left ? store.hoverX : store.hoverY;
    for (int k = 0; k < DrawnBinCount; ++k) {
        const int bin = FirstDrawnBin + k;
        const Band band = bands[static_cast<std::size_t>(k)];
        const bool under = x >= band.from && x <= band.to;
        if (under) {
            store.selectedBin = bin;
            store.selectedPlot = left ? PlotX : PlotY;
        }
        hover[static_cast<std::size_t>(bin)] = under ? 1 : 0;
    }
    return true;
}

void LowerSelectedLimit(SpectrumStore& store, int limitSelect, int stepSize) {
    if (double* limit = SelectedLimit(store, limitSelect)) {
        *limit = ClampLow(*limit - static_cast<double>(stepSize));
    }
}

void RaiseSelectedLimit(SpectrumStore& store, int limitSelect, int stepSize) {
    if (double* limit = SelectedLimit(store, limitSelect)) {
        *limit = ClampHigh(*limit + static_cast<double>(stepSize));
    }
}

void AutoSetLimits(SpectrumStore& store, float margin) {
    const double m = static_cast<double>(margin);
    for (std::size_t i = 0; i < AutoSetEntries; ++i) {
        store.maxLimitX[i] = ClampHigh(m + store.shownX[i]);
        store.minLimitX[i] = ClampLow(store.shownX[i] - m);
        store.maxLimitY[i] = ClampHigh(m + store.shownY[i]);
        store.minLimitY[i] = ClampLow(store.shownY[i] - m);
    }
}

void ResetErrors(SpectrumStore& store) {
    SpectrumStore::Fill(store.errorY, NoErrorLevel);
    SpectrumStore::Fill(store.errorX, NoErrorLevel);
}
