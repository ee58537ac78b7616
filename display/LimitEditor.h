#pragma once

#include "SpectrumStore.h"

// Limit editing with the mouse and the two buttons, free of any window system: the dialog's
// handlers pass the pointer position and their members in.

// WM_MOUSEMOVE: hover flags and selection. Answers whether the message gets the framework's
// default processing (not when the pointer is outside the plots' active area).
bool TrackPointer(SpectrumStore& store, int x, int y);

// Left click: lowers the selected bin's upper (limitSelect 0) or lower limit by stepSize,
// stopping at -139.0.
void LowerSelectedLimit(SpectrumStore& store, int limitSelect, int stepSize);

// Right click: raises it by stepSize, stopping at +19.0.
void RaiseSelectedLimit(SpectrumStore& store, int limitSelect, int stepSize);

// Entries whose limits "Auto-set Limits" places: the drawn bins and the entries below them.
inline constexpr int AutoSetEntries = LastDrawnBin + 1;

// "Auto-set Limits": both limits of entries 0..31 of both plots at margin around the shown arrays.
void AutoSetLimits(SpectrumStore& store, float margin);

// "Reset": forgets every latched error.
void ResetErrors(SpectrumStore& store);
