#include <gtest/gtest.h>

#include "SpectrumStore.h"

namespace {

TEST(SpectrumStoreTest, StartsZeroAndTakesTheDialogDefaults) {
    SpectrumStore store;
    EXPECT_EQ(store.selectedBin, 0);
    EXPECT_EQ(store.selectedPlot, PlotNone);
    EXPECT_EQ(store.maxLimitX[0], 0.0);
    store.FillDefaults();
    for (int b = 0; b < SpectrumSize; ++b) {
        EXPECT_EQ(store.errorX[b], -139.0);
        EXPECT_EQ(store.errorY[b], -139.0);
        EXPECT_EQ(store.maxLimitX[b], 15.0);
        EXPECT_EQ(store.maxLimitY[b], 15.0);
        EXPECT_EQ(store.minLimitX[b], -120.0);
        EXPECT_EQ(store.minLimitY[b], -120.0);
        EXPECT_EQ(store.shownX[b], 0.0);
        EXPECT_EQ(store.liveY[b], 0.0);
    }
}

TEST(SpectrumStoreTest, WholeArrayOperationsReachTheirExtents) {
    SpectrumStore store;
    store.liveX.fill(3.0);
    store.liveY.fill(4.0);
    store.ClearLive();
    EXPECT_EQ(store.liveX, SpectrumArray{});
    EXPECT_EQ(store.liveY, SpectrumArray{});

    SpectrumStore::Fill(store.errorX, -7.0);
    SpectrumStore::Fill(store.errorY, -8.0);
    store.shownX.fill(1.0);
    store.shownY.fill(2.0);
    store.ShowErrors();
    EXPECT_EQ(store.shownX[0], -7.0);
    EXPECT_EQ(store.shownX[ErrorViewEntries - 1], -7.0);
    EXPECT_EQ(store.shownX[ErrorViewEntries], 1.0);
    EXPECT_EQ(store.shownY[ErrorViewEntries - 1], -8.0);
    EXPECT_EQ(store.shownY[SpectrumSize - 1], 2.0);

    store.hoverX.fill(1);
    store.hoverY.fill(1);
    store.ClearHover();
    EXPECT_EQ(store.hoverX, HoverFlags{});
    EXPECT_EQ(store.hoverY, HoverFlags{});
}

}  // namespace
