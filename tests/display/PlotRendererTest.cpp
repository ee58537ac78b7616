#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "PlotRenderer.h"
#include "RecordingCanvas.h"

namespace {

using Kind = RecordingCanvas::Kind;
using Line = RecordingCanvas::Line;

constexpr PlotRect Client{0, 0, 480, 325};

// Bar positions of a 480-pixel-wide client area, worked out by hand.
const std::vector<int> LeftBars = {8,   16,  23,  31,  39,  46,  54,  61,  69,
                                   77,  84,  92,  100, 107, 115, 123, 130, 138,
                                   145, 153, 161, 168, 176, 184, 191, 199, 207};
const std::vector<int> RightBars = {268, 276, 283, 291, 299, 306, 314, 321, 329,
                                    337, 344, 352, 360, 367, 375, 383, 390, 398,
                                    405, 413, 421, 428, 436, 444, 451, 459, 467};

constexpr Colour Green = Rgb(0, 170, 0);
constexpr Colour Red = Rgb(200, 0, 0);
constexpr Colour GridGrey = Rgb(220, 220, 220);
constexpr Colour Black = Rgb(0, 0, 0);

bool Is(const Pen& pen, int width, Colour colour) {
    return pen.width == width && pen.colour == colour;
}

using Ends = std::array<int, 4>;  // x1, y1, x2, y2 of a line; left, top, right, bottom of a box

Ends Of(const Line& l) {
    return {l.x1, l.y1, l.x2, l.y2};
}
Ends Of(const PlotRect& r) {
    return {r.left, r.top, r.right, r.bottom};
}
Ends Of(const RecordingCanvas::Op& box) {
    return {box.x, box.y, box.right, box.bottom};
}

// The dialog side of a paint: answers a fixed display choice and leaves marks in the canvas's
// sequence so the order of its calls can be checked.
class FakeHost : public PaintHost {
  public:
    explicit FakeHost(RecordingCanvas& canvas, const SpectrumStore& store)
        : canvas_(canvas), store_(store) {}
    int displaySelect = 0;
    int pulls = 0;
    int defaults = 0;
    bool liveClearedAtDefault = false;

    int PullDisplaySelect() override {
        ++pulls;
        canvas_.Mark("pull");
        return displaySelect;
    }
    void DefaultProcessing() override {
        ++defaults;
        canvas_.Mark("default");
        liveClearedAtDefault = store_.liveX == SpectrumArray{} && store_.liveY == SpectrumArray{};
    }

  private:
    RecordingCanvas& canvas_;
    const SpectrumStore& store_;
};

class PlotRendererTest : public ::testing::Test {
  protected:
    void SetUp() override { store.FillDefaults(); }

    void Paint() {
        canvas.Clear();
        host.pulls = 0;
        host.defaults = 0;
        PaintSpectrumPlots(canvas, store, Client, host);
    }

    // Lines of that width, and of that colour if one is given.
    std::vector<Line> LinesIn(int width, std::optional<Colour> colour = std::nullopt) const {
        std::vector<Line> found;
        for (const Line& line : canvas.lines) {
            if (line.pen.width == width && (!colour || line.pen.colour == *colour)) {
                found.push_back(line);
            }
        }
        return found;
    }

    // 3-pixel lines: first the 54 bars (X and Y alternating per bin), then the error marks.
    std::vector<Line> Wide() const { return LinesIn(3); }
    std::vector<Line> Marks() const {
        std::vector<Line> wide = Wide();
        return std::vector<Line>(wide.begin() + 54, wide.end());
    }

    // The bar of bin b of a plot, out of the 54 drawn.
    Line BarOf(int bin, bool right) const {
        const std::vector<Line> bars = Wide();
        return bars.at(static_cast<std::size_t>((bin - FirstDrawnBin) * 2 + (right ? 1 : 0)));
    }

    SpectrumStore store;
    RecordingCanvas canvas;
    FakeHost host{canvas, store};
};

TEST_F(PlotRendererTest, FramesOfBothPlotsWithTheDefaultPen) {
    Paint();
    EXPECT_EQ(Of(store.plotRectX), Ends({4, 60, 216, 227}));
    EXPECT_EQ(Of(store.plotRectY), Ends({264, 60, 476, 227}));

    // Drawn first, both with the default pen, and no other rectangle.
    ASSERT_GE(canvas.ops.size(), 2u);
    for (std::size_t i : {0u, 1u}) {
        ASSERT_EQ(canvas.ops[i].kind, Kind::Rectangle);
        EXPECT_EQ(canvas.ops[i].pen, &canvas.defaultPen);
    }
    EXPECT_EQ(Of(canvas.ops[0]), Of(store.plotRectX));
    EXPECT_EQ(Of(canvas.ops[1]), Of(store.plotRectY));
    EXPECT_EQ(canvas.OfKind(Kind::Rectangle).size(), 2u);
}

TEST_F(PlotRendererTest, ClientRectangleIsNormalisedFirst) {
    PaintSpectrumPlots(canvas, store, PlotRect{480, 325, 0, 0}, host);
    EXPECT_EQ(Of(store.plotRectX), Ends({4, 60, 216, 227}));
    EXPECT_EQ(Of(store.plotRectY), Ends({264, 60, 476, 227}));
}

TEST_F(PlotRendererTest, ScaleLabelsInTheGapOnGreyBoxes) {
    Paint();
    const auto texts = canvas.OfKind(Kind::Text);
    ASSERT_EQ(texts.size(), 5u);
    const std::vector<std::string> labels = {"+20", "-20", "-60", "-100", "-140"};
    const std::vector<int> tops = {53, 93, 135, 177, 217};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(texts[i].text, labels[i]);
        EXPECT_EQ(texts[i].x, 226);
        EXPECT_EQ(texts[i].y, tops[i]) << labels[i];
    }
    const auto bk = canvas.OfKind(Kind::BkColor);
    const auto fg = canvas.OfKind(Kind::TextColor);
    ASSERT_EQ(bk.size(), 1u);
    ASSERT_EQ(fg.size(), 1u);
    EXPECT_EQ(bk[0].colour, Rgb(200, 200, 200));
    EXPECT_EQ(fg[0].colour, Black);
}

TEST_F(PlotRendererTest, GridLinesAtQuartersOfBothPlots) {
    Paint();
    const auto grid = LinesIn(1, GridGrey);
    ASSERT_EQ(grid.size(), 6u);
    const int ys[] = {101, 143, 185};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Of(grid[static_cast<std::size_t>(2 * i)]), Ends({5, ys[i], 215, ys[i]}));
        EXPECT_EQ(Of(grid[static_cast<std::size_t>(2 * i + 1)]), Ends({265, ys[i], 475, ys[i]}));
    }
}

TEST_F(PlotRendererTest, ZeroDbBarsAtEveryBinPositionAreGreen) {
    Paint();
    const auto bars = LinesIn(3, Green);
    ASSERT_EQ(bars.size(), 54u);
    for (std::size_t k = 0; k < 27; ++k) {
        EXPECT_EQ(Of(bars[2 * k]), Ends({LeftBars[k], 225, LeftBars[k], 79})) << "left " << k + 5;
        EXPECT_EQ(Of(bars[2 * k + 1]), Ends({RightBars[k], 225, RightBars[k], 79}))
            << "right bin " << k + 5;
    }
    EXPECT_TRUE(LinesIn(3, Red).empty());
    SpectrumArray nothingLatched;
    nothingLatched.fill(NoErrorLevel);
    EXPECT_EQ(store.errorX, nothingLatched);
    EXPECT_EQ(store.errorY, nothingLatched);
}

TEST_F(PlotRendererTest, DefaultLimitLinesTraceEveryBin) {
    Paint();
    const auto limits = LinesIn(1, Black);
    ASSERT_EQ(limits.size(), 4u * 54u);
    // The first polyline starts one pixel below the level, left of the first segment.
    EXPECT_EQ(limits[0].x1, 6);
    EXPECT_EQ(limits[0].y1, 66);
    const int levels[] = {65, 206, 65, 206};
    const std::vector<int>* bars[] = {&LeftBars, &LeftBars, &RightBars, &RightBars};
    for (std::size_t line = 0; line < 4; ++line) {
        for (std::size_t k = 0; k < 27; ++k) {
            const Line& joint = limits[line * 54 + 2 * k];
            const Line& level = limits[line * 54 + 2 * k + 1];
            const int p = (*bars[line])[k] + 2;
            EXPECT_EQ(joint.x2, p - 4);
            EXPECT_EQ(joint.y2, levels[line]);
            EXPECT_EQ(Of(level), Ends({p - 4, levels[line], p, levels[line]}));
        }
    }
    EXPECT_EQ(limits[54].x1, 6);
    EXPECT_EQ(limits[54].y1, 207);
    EXPECT_EQ(limits[108].x1, 266);
    EXPECT_EQ(limits[108].y1, 66);
}

TEST_F(PlotRendererTest, LimitLineSlantsBetweenDifferentLevels) {
    store.maxLimitX[6] = 0.0;  // y = 80
    Paint();
    const auto limits = LinesIn(1, Black);
    // Bin 5 at 65, then a joint to the left end of bin 6's segment at 80, then back to 65.
    EXPECT_EQ(Of(limits[2]), Ends({10, 65, 14, 80}));
    EXPECT_EQ(Of(limits[3]), Ends({14, 80, 18, 80}));
    EXPECT_EQ(limits[4].y2, 65);
}

TEST_F(PlotRendererTest, LatchRulesAtTheLimits) {
    store.shownX[5] = 15.0;                            // equal to the upper limit
    store.shownX[6] = -120.0;                          // equal to the lower limit
    store.shownX[7] = std::nextafter(15.0, 100.0);     // just above
    store.shownX[8] = std::nextafter(-120.0, -200.0);  // just below
    store.shownY[9] = std::numeric_limits<double>::quiet_NaN();
    store.shownY[10] = 30.0;  // above the frame
    Paint();

    EXPECT_TRUE(Is(BarOf(5, false).pen, 3, Green));
    EXPECT_TRUE(Is(BarOf(6, false).pen, 3, Green));
    EXPECT_EQ(BarOf(6, false).y2, 205);
    EXPECT_EQ(store.errorX[5], NoErrorLevel);
    EXPECT_EQ(store.errorX[6], NoErrorLevel);

    EXPECT_TRUE(Is(BarOf(7, false).pen, 3, Red));
    EXPECT_EQ(store.errorX[7], std::nextafter(15.0, 100.0));
    EXPECT_TRUE(Is(BarOf(8, false).pen, 3, Red));
    EXPECT_EQ(store.errorX[8], std::nextafter(-120.0, -200.0));

    EXPECT_TRUE(Is(BarOf(9, true).pen, 3, Red));
    EXPECT_TRUE(std::isnan(store.errorY[9]));
    EXPECT_TRUE(Is(BarOf(10, true).pen, 3, Red));
    EXPECT_EQ(BarOf(10, true).y2, 49);  // rises above the frame top at 60
    EXPECT_EQ(store.errorY[10], 30.0);
}

TEST_F(PlotRendererTest, LatchKeepsTheLatestValueNotTheLargest) {
    store.shownX[12] = 40.0;
    Paint();
    store.shownX[12] = 16.0;
    Paint();
    EXPECT_EQ(store.errorX[12], 16.0);
    store.shownX[12] = 0.0;
    Paint();
    EXPECT_EQ(store.errorX[12], 16.0);
}

TEST_F(PlotRendererTest, BinUnderTheMouseIsRedAndLatchesNothing) {
    store.errorX[11] = -60.0;
    store.hoverX[11] = 1;
    store.shownX[11] = 50.0;  // out of limits
    store.hoverY[20] = 1;     // within limits
    Paint();
    EXPECT_TRUE(Is(BarOf(11, false).pen, 3, Red));
    EXPECT_EQ(store.errorX[11], -60.0);
    EXPECT_TRUE(Is(BarOf(20, true).pen, 3, Red));
    EXPECT_EQ(store.errorY[20], NoErrorLevel);
    EXPECT_TRUE(Is(BarOf(20, false).pen, 3, Green));  // the other plot's bin is not hovered
    // Only a flag of exactly 1 means under the mouse.
    store.hoverX[11] = 2;
    Paint();
    EXPECT_EQ(store.errorX[11], 50.0);
}

TEST_F(PlotRendererTest, ErrorMarksOnlyAboveNothingLatched) {
    store.errorX[5] = -50.0;
    store.errorX[6] = -138.9;
    store.errorY[31] = 12.0;
    store.errorY[30] = NoErrorLevel;
    Paint();
    const auto marks = Marks();
    ASSERT_EQ(marks.size(), 3u);
    const Ends expected[] = {{8, 225, 8, 222}, {16, 225, 16, 222}, {467, 225, 467, 222}};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(Of(marks[i]), expected[i]) << i;
        EXPECT_TRUE(Is(marks[i].pen, 3, Red)) << i;
    }
}

TEST_F(PlotRendererTest, ErrorDataViewShowsLatchedErrorsAsRedStubs) {
    store.errorX[7] = 10.0;  // within the default limits once shown
    store.liveX[7] = 3.0;
    store.shownX[150] = 4.0;  // beyond the copied entries
    host.displaySelect = 1;
    Paint();
    for (int b = 0; b < ErrorViewEntries; ++b) {
        EXPECT_EQ(store.shownX[b], store.errorX[b]);
        EXPECT_EQ(store.shownY[b], store.errorY[b]);
    }
    EXPECT_EQ(store.shownX[150], 4.0);
    for (int b = FirstDrawnBin; b <= LastDrawnBin; ++b) {
        if (b == 7) {
            continue;
        }
        const Line x = BarOf(b, false);
        EXPECT_TRUE(Is(x.pen, 3, Red));
        EXPECT_EQ(x.y1, 225);
        EXPECT_EQ(x.y2, 224);
        EXPECT_EQ(store.errorX[b], NoErrorLevel);  // latched again, unchanged
        EXPECT_EQ(store.errorY[b], NoErrorLevel);
    }
    EXPECT_TRUE(Is(BarOf(7, false).pen, 3, Green));
    EXPECT_EQ(store.errorX[7], 10.0);
    EXPECT_EQ(Marks().size(), 1u);
}

TEST_F(PlotRendererTest, DisplayChoiceIsPulledOnceBetweenGridAndBars) {
    Paint();
    EXPECT_EQ(host.pulls, 1);
    int lastGrid = -1;
    int pull = -1;
    int firstBar = -1;
    for (int i = 0; i < static_cast<int>(canvas.ops.size()); ++i) {
        const auto& op = canvas.ops[static_cast<std::size_t>(i)];
        if (op.kind == Kind::LineTo && op.penValue.colour == GridGrey) {
            lastGrid = i;
        }
        if (op.kind == Kind::Marker && op.text == "pull") {
            pull = i;
        }
        if (op.kind == Kind::LineTo && op.penValue.width == 3 && firstBar < 0) {
            firstBar = i;
        }
    }
    EXPECT_LT(lastGrid, pull);
    EXPECT_LT(pull, firstBar);
}

TEST_F(PlotRendererTest, EndsWithPenRestoredLiveClearedAndDefaultProcessing) {
    store.liveX.fill(-12.0);
    store.liveY.fill(7.0);
    store.shownX[9] = -33.0;
    Paint();
    EXPECT_EQ(store.liveX, SpectrumArray{});
    EXPECT_EQ(store.liveY, SpectrumArray{});
    EXPECT_EQ(store.shownX[9], -33.0);
    EXPECT_EQ(canvas.current, &canvas.defaultPen);
    EXPECT_EQ(host.defaults, 1);
    EXPECT_TRUE(host.liveClearedAtDefault);
    // The restore is the last drawing call; default processing follows it.
    ASSERT_GE(canvas.ops.size(), 2u);
    const auto& restore = canvas.ops[canvas.ops.size() - 2];
    EXPECT_EQ(restore.kind, Kind::SelectPen);
    EXPECT_EQ(restore.pen, &canvas.defaultPen);
    EXPECT_EQ(canvas.ops.back().kind, Kind::Marker);
    EXPECT_EQ(canvas.ops.back().text, "default");
}

TEST_F(PlotRendererTest, UnrepresentableLevelsStillDrawBoundedBars) {
    store.shownX[5] = -std::numeric_limits<double>::infinity();
    store.shownX[6] = std::numeric_limits<double>::infinity();
    store.shownX[7] = std::numeric_limits<double>::quiet_NaN();
    store.maxLimitY[5] = std::numeric_limits<double>::infinity();
    Paint();
    EXPECT_EQ(BarOf(5, false).y2, 60 + 1000000 - 1);
    EXPECT_EQ(BarOf(6, false).y2, 60 - 1000000 - 1);
    EXPECT_EQ(BarOf(7, false).y2, 59);
    EXPECT_EQ(store.errorX[5], -std::numeric_limits<double>::infinity());
    EXPECT_TRUE(Is(BarOf(5, true).pen, 3, Green));
}

}  // namespace
