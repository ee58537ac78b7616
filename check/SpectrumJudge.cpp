#include "SpectrumJudge.h"

#include <bit>
#include <cstdint>
#include <limits>

#include "Canvas.h"
#include "PlotRenderer.h"

namespace {

class NullCanvas final : public Canvas {
  public:
    void Rectangle(int, int, int, int) override {}
    const Pen* SelectPen(const Pen* pen) override {
        const Pen* previous = current_;
        current_ = pen;
        return previous;
    }
    void MoveTo(int, int) override {}
    void LineTo(int, int) override {}
    void SetBkColor(Colour) override {}
    void SetTextColor(Colour) override {}
    void TextOut(int, int, std::string_view) override {}

  private:
    const Pen* current_ = nullptr;
};

// The live view; nothing to pull from controls, and nothing for the framework to do.
class LiveViewHost final : public PaintHost {
  public:
    int PullDisplaySelect() override { return 0; }
    void DefaultProcessing() override {}
};

// The window's fixed client area; judgement does not depend on it, only the drawing does.
constexpr PlotRect ClientArea{0, 0, 480, 325};

// A NaN with a payload of its own: the paint latches a level by storing it, so an entry that still
// holds exactly these bits after the paint was not latched, whatever level (a NaN included) the
// paint might have stored.
const std::uint64_t NotLatchedBits = 0x7FF8'5A5A'0000'0001ULL;

bool StillUnlatched(double value) {
    return std::bit_cast<std::uint64_t>(value) == NotLatchedBits;
}

}  // namespace

void SpectrumJudge::Paint(SpectrumStore& store, bool judged) {
    NullCanvas canvas;
    LiveViewHost host;
    if (!judged) {
        PaintSpectrumPlots(canvas, store, ClientArea, host);
        return;
    }
    const double marker = std::bit_cast<double>(NotLatchedBits);
    keptX_ = store.errorX;
    keptY_ = store.errorY;
    for (int bin = FirstDrawnBin; bin <= LastDrawnBin; ++bin) {
        store.errorX[static_cast<std::size_t>(bin)] = marker;
        store.errorY[static_cast<std::size_t>(bin)] = marker;
    }
    PaintSpectrumPlots(canvas, store, ClientArea, host);
    // Entries the paint did not latch get their old error back, so the store ends as the window's.
    for (int bin = FirstDrawnBin; bin <= LastDrawnBin; ++bin) {
        const auto b = static_cast<std::size_t>(bin);
        if (StillUnlatched(store.errorX[b])) {
            store.errorX[b] = keptX_[b];
        } else {
            ++outX_[Index(bin)];
        }
        if (StillUnlatched(store.errorY[b])) {
            store.errorY[b] = keptY_[b];
        } else {
            ++outY_[Index(bin)];
        }
    }
}

bool SpectrumJudge::AnyOut() const {
    for (std::size_t i = 0; i < DrawnBinCount; ++i) {
        if (outX_[i] != 0 || outY_[i] != 0) {
            return true;
        }
    }
    return false;
}
