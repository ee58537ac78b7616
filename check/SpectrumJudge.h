// Judges the spectra in the store against their limits by running the plots' own paint on a
// canvas that draws nothing, so that a check run decides and latches exactly as the window does.
#pragma once

#include <array>

#include "SpectrumStore.h"

class SpectrumJudge {
  public:
    // One paint of the live view, as the window runs it after a completed cycle: latches every
    // out-of-limit entry into errorX and errorY and clears the live arrays. When judged, each entry
    // that the paint found out of limits is counted against it.
    void Paint(SpectrumStore& store, bool judged);

    // Judged paints that found entry bin (5..31) of the X (or Y) plot out of limits.
    int OutCountX(int bin) const { return outX_[Index(bin)]; }
    int OutCountY(int bin) const { return outY_[Index(bin)]; }
    bool AnyOut() const;

  private:
    static std::size_t Index(int bin) { return static_cast<std::size_t>(bin - FirstDrawnBin); }

    std::array<int, DrawnBinCount> outX_{};
    std::array<int, DrawnBinCount> outY_{};
    // The error arrays as they were before the paint.
    SpectrumArray keptX_{};
    SpectrumArray keptY_{};
};
