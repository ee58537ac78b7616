#pragma once

#include "Canvas.h"
#include "SpectrumStore.h"

// What the paint needs of the dialog that it draws on.
class PaintHost {
  public:
    virtual ~PaintHost() = default;
    // Pulls the dialog's controls into its members (the result is not examined) and answers
    // the display choice as the members then hold it: 1 is the Error Data view.
    virtual int PullDisplaySelect() = 0;
    // The framework's default processing of the paint message.
    virtual void DefaultProcessing() = 0;
};

// One paint of the open (not minimised) window: both plot rectangles, labels, grid, bars with
// limit checking and error latching, error marks, limit lines, then ClearLive. client is the
// client rectangle as the window reports it. A level that has no pixel coordinate (NaN, an
// infinity) is drawn pinned: NaN at the plot top, infinities a million pixels off the plot.
void PaintSpectrumPlots(Canvas& canvas, SpectrumStore& store, PlotRect client, PaintHost& host);
