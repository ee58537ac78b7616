#pragma once

#include <array>

// Number of entries of every spectrum, limit and error array. An acquisition writes entries
// 0..63, bins 5..31 are drawn, auto-set works on 0..31 and the Error Data view copies 0..99;
// 200 is the size of every array and the extent of every whole-array fill and clear.
inline constexpr int SpectrumSize = 200;
inline constexpr int HoverFlagCount = 40;
inline constexpr int ErrorViewEntries = 100;

// First and last bin drawn as a bar, and how many bars a plot has.
inline constexpr int FirstDrawnBin = 5;
inline constexpr int LastDrawnBin = 31;
inline constexpr int DrawnBinCount = LastDrawnBin - FirstDrawnBin + 1;

// Latched-error value meaning that nothing is latched.
inline constexpr double NoErrorLevel = -139.0;
inline constexpr double DefaultMaxLimit = 15.0;
inline constexpr double DefaultMinLimit = -120.0;

using SpectrumArray = std::array<double, SpectrumSize>;
using HoverFlags = std::array<int, HoverFlagCount>;

// Plot identifiers: the left plot shows the X axis (module channel '0'),
// the right plot the Y axis (module channel '1'). 0 names no plot.
enum PlotId : int { PlotNone = 0, PlotX = 100, PlotY = 101 };

struct PlotRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// Everything the two plots show, with the per-bin limits, the latched errors, the hover flags
// and the mouse selection. One object lives for the whole run; nothing in it is ever allocated.
struct SpectrumStore {
    SpectrumArray liveX{};
    SpectrumArray liveY{};
    SpectrumArray shownX{};
    SpectrumArray shownY{};
    SpectrumArray maxLimitX{};
    SpectrumArray minLimitX{};
    SpectrumArray maxLimitY{};
    SpectrumArray minLimitY{};
    SpectrumArray errorX{};
    SpectrumArray errorY{};
    HoverFlags hoverX{};
    HoverFlags hoverY{};

    int selectedBin = 0;
    int selectedPlot = PlotNone;
    PlotRect plotRectX{};
    PlotRect plotRectY{};
    int sampleCount = 0;

    // Sets all 200 entries of an array to value.
    static void Fill(SpectrumArray& array, double value);

    // The start-up defaults, in the dialog's order: errorY, errorX to -139.0, minLimitY -120.0,
    // maxLimitY +15.0, minLimitX -120.0, maxLimitX +15.0.
    void FillDefaults();

    // liveY then liveX to 0.0, all 200 entries (after every paint of the open window).
    void ClearLive();

    // Entries 0..99 of errorY into shownY and of errorX into shownX (the Error Data view).
    void ShowErrors();

    // All 40 flags of hoverY and of hoverX to 0 (pointer outside the plots' active area).
    void ClearHover();
};
