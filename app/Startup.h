// What every program of the application does before its main dialog: the look, the serial
// layer's message box, and the COM device map of the profile.
#pragma once

#include <optional>

#include "Profile.h"
#include "SpectrumStore.h"
#include "SystemClock.h"
#include "SystemPortListSource.h"
#include "TavrekModule.h"

// --help and --version: when one of them is among the arguments, prints the help text (or the
// program's name and version) on standard output and answers the exit status 0; otherwise
// answers nothing and the arguments are left to the program.
std::optional<int> AnswerInformationOptions(int argc, char** argv, const char* program,
                                            const char* helpText);

// Around the QApplication's construction: without a usable display Qt would abort (core dump,
// exit status 134) with a message that does not say what to do. Between the two calls a failing
// window-system platform instead prints one line naming DISPLAY and QT_QPA_PLATFORM=offscreen and
// exits with status 1; what Qt says meanwhile is held back and passed on once the start worked.
void BeginDisplayCheck(const char* program);
void EndDisplayCheck();

// To be called once the QApplication exists: the application's look, the serial layer's boxes
// routed to the program's own, and the profile's COM device map. Warnings about the profile go
// to standard error.
void PrepareApplication(const Profile& profile);
// Shows the serial layer's MessageBoxA as one of the program's boxes (part of the above).
void RouteSerialMessageBoxes();

// The objects that live as long as the program, created once (after the QApplication) and
// handed by reference to those that use them: the profile, which also loads the COM device map,
// the spectrum store, the clock, the module with its connection and acquisition cycle, and the
// system's list of serial ports.
struct ProgramObjects {
    ProgramObjects();

    Profile profile;
    SystemPortListSource ports;
    SpectrumStore store;
    SystemClock clock;
    TavrekModule module;
};
