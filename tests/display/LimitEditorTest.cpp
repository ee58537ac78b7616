#include <gtest/gtest.h>

#include <cstddef>
#include <utility>
#include <vector>

#include "LimitEditor.h"
#include "PlotRenderer.h"
#include "RecordingCanvas.h"

namespace {

constexpr int MaxLimit = 0;
constexpr int MinLimit = 1;
constexpr int InsideY = 100;

using Limits = std::pair<double, double>;  // upper, lower

SpectrumArray Filled(double level) {
    SpectrumArray a;
    a.fill(level);
    return a;
}

class LimitEditorTest : public ::testing::Test {
  protected:
    void SetUp() override { store.FillDefaults(); }

    int HoveredCount(const HoverFlags& flags) const {
        int count = 0;
        for (int flag : flags) {
            count += flag;
        }
        return count;
    }

    void ExpectSelection(int bin, int plot) const {
        EXPECT_EQ(store.selectedBin, bin);
        EXPECT_EQ(store.selectedPlot, plot);
    }

    Limits X(int b) const { return {store.maxLimitX[b], store.minLimitX[b]}; }
    Limits Y(int b) const { return {store.maxLimitY[b], store.minLimitY[b]}; }

    SpectrumStore store;
};

TEST_F(LimitEditorTest, ActiveAreaBoundsAreInclusive) {
    EXPECT_TRUE(TrackPointer(store, 5, InsideY));
    ExpectSelection(5, PlotX);
    EXPECT_EQ(store.hoverX[5], 1);

    store.hoverY[9] = 1;
    for (auto [x, y] :
         std::vector<std::pair<int, int>>{{4, InsideY}, {475, InsideY}, {100, 61}, {100, 224}}) {
        store.hoverX[5] = 1;
        EXPECT_FALSE(TrackPointer(store, x, y)) << x << "," << y;
        EXPECT_EQ(HoveredCount(store.hoverX), 0) << x << "," << y;
        EXPECT_EQ(HoveredCount(store.hoverY), 0) << x << "," << y;
        ExpectSelection(5, PlotX);  // leaving keeps the selection
    }
    EXPECT_TRUE(TrackPointer(store, 100, 62));
    ExpectSelection(17, PlotX);
    EXPECT_TRUE(TrackPointer(store, 100, 223));
    EXPECT_TRUE(TrackPointer(store, 474, InsideY));
}

TEST_F(LimitEditorTest, BandEdgesOfBothPlots) {
    struct Case {
        int x;
        int bin;
        int plot;
    };
    const Case cases[] = {{5, 5, PlotX},    {12, 5, PlotX},   {13, 6, PlotX},   {27, 7, PlotX},
                          {28, 8, PlotX},   {111, 18, PlotX}, {112, 19, PlotX}, {203, 30, PlotX},
                          {204, 31, PlotX}, {212, 31, PlotX}, {265, 5, PlotY},  {272, 5, PlotY},
                          {273, 6, PlotY},  {387, 20, PlotY}, {388, 21, PlotY}, {463, 30, PlotY},
                          {464, 31, PlotY}, {473, 31, PlotY}};
    for (const Case& c : cases) {
        store.selectedBin = 0;
        store.selectedPlot = PlotNone;
        EXPECT_TRUE(TrackPointer(store, c.x, InsideY));
        ExpectSelection(c.bin, c.plot);
        const HoverFlags& own = c.plot == PlotX ? store.hoverX : store.hoverY;
        EXPECT_EQ(own[static_cast<std::size_t>(c.bin)], 1) << "x = " << c.x;
        EXPECT_EQ(HoveredCount(own), 1) << "x = " << c.x;
    }
}

TEST_F(LimitEditorTest, GapsClearTheirSideOnlyAndKeepTheSelection) {
    TrackPointer(store, 207, InsideY);  // left bin 31
    TrackPointer(store, 268, InsideY);  // right bin 5, left flag left as it was
    EXPECT_EQ(store.hoverX[31], 1);
    EXPECT_EQ(store.hoverY[5], 1);
    ExpectSelection(5, PlotY);

    for (int x : {213, 214}) {
        store.hoverX[31] = 1;
        EXPECT_TRUE(TrackPointer(store, x, InsideY));
        EXPECT_EQ(HoveredCount(store.hoverX), 0) << x;
        EXPECT_EQ(store.hoverY[5], 1) << x;
        ExpectSelection(5, PlotY);
    }
    for (int x : {215, 230, 264, 474}) {
        store.hoverY[5] = 1;
        store.hoverX[20] = 1;
        EXPECT_TRUE(TrackPointer(store, x, InsideY));
        EXPECT_EQ(HoveredCount(store.hoverY), 0) << x;
        EXPECT_EQ(store.hoverX[20], 1) << x;
        ExpectSelection(5, PlotY);
    }
    // Flags beyond the drawn bins are not the pointer's business.
    store.hoverX[35] = 1;
    TrackPointer(store, 100, InsideY);
    EXPECT_EQ(store.hoverX[35], 1);
}

TEST_F(LimitEditorTest, EveryDrawnBarLiesInItsOwnBand) {
    RecordingCanvas canvas;
    struct NoHost : PaintHost {
        int PullDisplaySelect() override { return 0; }
        void DefaultProcessing() override {}
    } host;
    PaintSpectrumPlots(canvas, store, PlotRect{0, 0, 480, 325}, host);
    std::vector<RecordingCanvas::Line> bars;
    for (const auto& line : canvas.lines) {
        if (line.pen.width == 3) {
            bars.push_back(line);
        }
    }
    ASSERT_EQ(bars.size(), 54u);
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const int bin = FirstDrawnBin + static_cast<int>(i / 2);
        TrackPointer(store, bars[i].x1, InsideY);
        ExpectSelection(bin, i % 2 == 0 ? PlotX : PlotY);
    }
}

TEST_F(LimitEditorTest, ClicksBeforeAnySelectionChangeNothing) {
    // Pointer outside the plots never selects.
    TrackPointer(store, 4, InsideY);
    TrackPointer(store, 230, InsideY);
    for (int choice : {MaxLimit, MinLimit}) {
        LowerSelectedLimit(store, choice, 6);
        RaiseSelectedLimit(store, choice, 6);
    }
    for (const SpectrumArray* upper : {&store.maxLimitX, &store.maxLimitY}) {
        EXPECT_EQ(*upper, Filled(DefaultMaxLimit));
    }
    for (const SpectrumArray* lower : {&store.minLimitX, &store.minLimitY}) {
        EXPECT_EQ(*lower, Filled(DefaultMinLimit));
    }
    // A selection that does not name a drawn bin is refused, not used as an index.
    store.selectedPlot = PlotX;
    store.selectedBin = SpectrumSize;
    RaiseSelectedLimit(store, MaxLimit, 6);
    store.selectedBin = -1;
    LowerSelectedLimit(store, MaxLimit, 6);
    EXPECT_EQ(store.maxLimitX[SpectrumSize - 1], DefaultMaxLimit);
}

TEST_F(LimitEditorTest, ClickEditsTheChosenArrayOfTheSelectedPlot) {
    TrackPointer(store, 100, InsideY);  // left bin 17
    RaiseSelectedLimit(store, MaxLimit, 2);
    LowerSelectedLimit(store, MinLimit, 3);
    LowerSelectedLimit(store, 7, 4);  // any non-zero choice means the lower limits
    EXPECT_EQ(X(17), Limits(17.0, -127.0));
    EXPECT_EQ(Y(17), Limits(DefaultMaxLimit, DefaultMinLimit));

    TrackPointer(store, 400, InsideY);  // right bin 22
    TrackPointer(store, 4, InsideY);    // leaving keeps it
    RaiseSelectedLimit(store, MinLimit, 10);
    EXPECT_EQ(store.minLimitY[22], -110.0);
    EXPECT_EQ(store.minLimitX[22], DefaultMinLimit);
    EXPECT_EQ(store.minLimitX[17], -127.0);
}

TEST_F(LimitEditorTest, ClampSequencesAreOneSided) {
    TrackPointer(store, 8, InsideY);
    RaiseSelectedLimit(store, MaxLimit, 6);
    EXPECT_EQ(store.maxLimitX[5], 19.0);
    RaiseSelectedLimit(store, MaxLimit, 6);
    EXPECT_EQ(store.maxLimitX[5], 19.0);

    for (double expected : {-126.0, -132.0, -138.0, -139.0, -139.0}) {
        LowerSelectedLimit(store, MinLimit, 6);
        EXPECT_EQ(store.minLimitX[5], expected);
    }
    // The upper limit can go down to the floor, the lower one up to the ceiling, past each other.
    for (int i = 0; i < 30; ++i) {
        LowerSelectedLimit(store, MaxLimit, 6);
        RaiseSelectedLimit(store, MinLimit, 6);
    }
    EXPECT_EQ(store.maxLimitX[5], -139.0);
    EXPECT_EQ(store.minLimitX[5], 19.0);
}

TEST_F(LimitEditorTest, NegativeAndZeroStepsClampOnlyOnTheClickSide) {
    TrackPointer(store, 300, InsideY);  // right bin 9
    LowerSelectedLimit(store, MaxLimit, 0);
    RaiseSelectedLimit(store, MaxLimit, 0);
    EXPECT_EQ(store.maxLimitY[9], 15.0);

    LowerSelectedLimit(store, MaxLimit, -10);  // a lowering click raises, unclamped at the top
    EXPECT_EQ(store.maxLimitY[9], 25.0);
    RaiseSelectedLimit(store, MinLimit, -30);  // a raising click lowers, unclamped at the bottom
    EXPECT_EQ(store.minLimitY[9], -150.0);
    LowerSelectedLimit(store, MinLimit, 1);
    EXPECT_EQ(store.minLimitY[9], -139.0);
}

TEST_F(LimitEditorTest, AutoSetAroundTheShownSpectra) {
    store.shownX[0] = 0.0;
    store.shownX[4] = -137.0;
    store.shownX[10] = 17.0;
    store.shownX[31] = -150.0;
    store.shownY[2] = 17.0;
    store.shownY[31] = -137.0;
    store.shownX[32] = 40.0;
    store.shownY[50] = 40.0;
    AutoSetLimits(store, 5.0f);

    EXPECT_EQ(X(0), Limits(5.0, -5.0));
    EXPECT_EQ(X(4), Limits(-132.0, -139.0));
    EXPECT_EQ(X(10), Limits(19.0, 12.0));
    EXPECT_EQ(X(31), Limits(-145.0, -139.0));
    EXPECT_EQ(Y(2), Limits(19.0, 12.0));
    EXPECT_EQ(Y(31), Limits(-132.0, -139.0));
    for (int i = 0; i < 32; ++i) {
        if (store.shownY[i] == 0.0) {
            EXPECT_EQ(Y(i), Limits(5.0, -5.0)) << i;
        }
    }
    for (int i = 32; i < SpectrumSize; ++i) {
        EXPECT_EQ(X(i), Limits(DefaultMaxLimit, DefaultMinLimit)) << i;
        EXPECT_EQ(Y(i), Limits(DefaultMaxLimit, DefaultMinLimit)) << i;
    }
}

TEST_F(LimitEditorTest, AutoSetWidensTheSinglePrecisionMargin) {
    store.shownX[8] = 1.0;
    AutoSetLimits(store, 0.1f);
    EXPECT_EQ(store.maxLimitX[8], static_cast<double>(0.1f) + 1.0);
    EXPECT_NE(store.maxLimitX[8], 1.1);
    EXPECT_EQ(store.minLimitX[8], 1.0 - static_cast<double>(0.1f));
}

TEST_F(LimitEditorTest, ResetForgetsEveryErrorAndNothingElse) {
    store.errorX[7] = 3.0;
    store.errorY[199] = -20.0;
    store.maxLimitX[7] = 1.0;
    TrackPointer(store, 50, InsideY);
    const SpectrumStore before = store;
    ResetErrors(store);
    EXPECT_EQ(store.errorX, Filled(NoErrorLevel));
    EXPECT_EQ(store.errorY, Filled(NoErrorLevel));
    EXPECT_EQ(store.maxLimitX, before.maxLimitX);
    EXPECT_EQ(store.hoverX, before.hoverX);
    ExpectSelection(before.selectedBin, before.selectedPlot);
}

}  // namespace
