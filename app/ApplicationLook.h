// The look every window of the program shares: the widget style, the dialogs' font and the icon.
#pragma once

#include <QFont>

#include "ApplicationIcon.h"

// The dialogs' font, standing in for the 8-point sans serif that their layout in dialog units
// was made for: at 10 pixels every control text fits its control.
QFont DialogFont();

// Sets the application's style (Fusion with radio buttons as compact as the layout needs) and
// font. Called once, after the QApplication is made.
void ApplyApplicationLook();
