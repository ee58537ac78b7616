#include "LevelRanges.h"

#include <algorithm>
#include <cmath>

namespace {

template <typename Range>
void Widen(Range& range, double level) {
    if (std::isnan(level)) {
        return;
    }
    if (!range.any) {
        range.lowest = range.highest = level;
        range.any = true;
        return;
    }
    range.lowest = std::min(range.lowest, level);
    range.highest = std::max(range.highest, level);
}

}  // namespace

void LevelRanges::Take(const SpectrumStore& store) {
    for (std::size_t i = 0; i < LimitsFileEntries; ++i) {
        Widen(x_[i], store.shownX[i]);
        Widen(y_[i], store.shownY[i]);
    }
    ++cycles_;
}

std::optional<double> LevelRanges::Lowest(char axis, int entry) const {
    const Range& range = Of(axis)[static_cast<std::size_t>(entry)];
    return range.any ? std::optional<double>(range.lowest) : std::nullopt;
}

std::optional<double> LevelRanges::Highest(char axis, int entry) const {
    const Range& range = Of(axis)[static_cast<std::size_t>(entry)];
    return range.any ? std::optional<double>(range.highest) : std::nullopt;
}

void SetLearnedLimits(const LevelRanges& ranges, float margin, SpectrumStore& limits) {
    // The margin as "Auto-set Limits" takes it (the float widened, each sum rounded to double),
    // but without its clamps: a limit clamped at +19 or -139 dB could lie on the wrong side of
    // a level the part reached, and a good part would fail its own limits.
    const double m = static_cast<double>(margin);
    for (int entry = 0; entry < LimitsFileEntries; ++entry) {
        const auto e = static_cast<std::size_t>(entry);
        if (const std::optional<double> highest = ranges.Highest('X', entry)) {
            limits.maxLimitX[e] = m + *highest;
            limits.minLimitX[e] = *ranges.Lowest('X', entry) - m;
        }
        if (const std::optional<double> highest = ranges.Highest('Y', entry)) {
            limits.maxLimitY[e] = m + *highest;
            limits.minLimitY[e] = *ranges.Lowest('Y', entry) - m;
        }
    }
}

void WidenLimits(const LimitsTable& table, SpectrumStore& limits) {
    for (std::size_t e = 0; e < LimitsFileEntries; ++e) {
        if (const std::optional<EntryLimits>& x = table.x[e]) {
            limits.maxLimitX[e] = std::max(limits.maxLimitX[e], x->maxDb);
            limits.minLimitX[e] = std::min(limits.minLimitX[e], x->minDb);
        }
        if (const std::optional<EntryLimits>& y = table.y[e]) {
            limits.maxLimitY[e] = std::max(limits.maxLimitY[e], y->maxDb);
            limits.minLimitY[e] = std::min(limits.minLimitY[e], y->minDb);
        }
    }
}
