// What every program of the application does before its main dialog: the look, the serial
// layer's message box, and the COM device map of the profile.
#pragma once

#include "Profile.h"
#include "SpectrumStore.h"
#include "SystemClock.h"
#include "TavrekModule.h"

// To be called once the QApplication exists. Warnings about the profile go to standard error.
void PrepareApplication(const Profile& profile);

// The objects that live as long as the program, created once (after the QApplication) and
// handed by reference to those that use them: the profile, which also loads the COM device map,
// the spectrum store, the clock and the module with its connection and acquisition cycle.
struct ProgramObjects {
    ProgramObjects();

    Profile profile;
    SpectrumStore store;
    SystemClock clock;
    TavrekModule module;
};
