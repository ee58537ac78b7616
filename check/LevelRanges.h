// What a check run learns from a good part: the lowest and highest level that every entry 0 to 31
// of both axes reached over the judged cycles, and limits set around them.
#pragma once

#include <array>
#include <optional>

#include "LimitsFile.h"
#include "SpectrumStore.h"

class LevelRanges {
  public:
    // Takes the spectra the cycle just left in shownX and shownY. A level that is no number
    // (which the judgement counts as out of limits) widens nothing.
    void Take(const SpectrumStore& store);

    // Cycles taken.
    int Cycles() const { return cycles_; }

    // The lowest and highest level of entry (0..31) of the X or Y axis; none when no cycle gave
    // it a level.
    std::optional<double> Lowest(char axis, int entry) const;
    std::optional<double> Highest(char axis, int entry) const;

  private:
    struct Range {
        double lowest = 0.0;
        double highest = 0.0;
        bool any = false;
    };
    using Ranges = std::array<Range, LimitsFileEntries>;
    const Ranges& Of(char axis) const { return axis == 'X' ? x_ : y_; }

    Ranges x_{};
    Ranges y_{};
    int cycles_ = 0;
};

// Sets each entry's upper limit at its highest level plus margin and its lower limit at its lowest
// level minus margin, unclamped, so that the part learned from always lies within. Entries
// without a level keep the limits they have in limits.
void SetLearnedLimits(const LevelRanges& ranges, float margin, SpectrumStore& limits);

// Widens the limits so that they also cover those the table lists: each listed entry's upper
// limit becomes the higher of the two, its lower limit the lower. Entries the table does not list
// keep theirs.
void WidenLimits(const LimitsTable& table, SpectrumStore& limits);
