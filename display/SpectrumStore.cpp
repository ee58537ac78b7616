#include "SpectrumStore.h"

#include <algorithm>

void SpectrumStore::Fill(SpectrumArray& array, double value) {
    array.fill(value);
}

void SpectrumStore::FillDefaults() {
    Fill(errorY, NoErrorLevel);
    Fill(errorX, NoErrorLevel);
    Fill(minLimitY, DefaultMinLimit);
    Fill(maxLimitY, DefaultMaxLimit);
    Fill(minLimitX, DefaultMinLimit);
    Fill(maxLimitX, DefaultMaxLimit);
}

void SpectrumStore::ClearLive() {
    Fill(liveY, 0.0);
    Fill(liveX, 0.0);
}

void SpectrumStore::ShowErrors() {
    std::copy_n(errorY.begin(), ErrorViewEntries, shownY.begin());
    std::copy_n(errorX.begin(), ErrorViewEntries, shownX.begin());
}

void SpectrumStore::ClearHover() {
    hoverY.fill(0);
    hoverX.fill(0);
}
