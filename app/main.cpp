// Sorvell: vibration spectra of the Tavrek two-axis sensor module on a serial line.

#include <QApplication>

#include "Profile.h"
#include "SpectrumStore.h"
#include "Startup.h"
#include "SystemClock.h"
#include "TavrekModule.h"
#include "VibrationApp.h"

int main(int argc, char** argv) {
    // The program takes no arguments: Qt is given the program name only.
    int qtArgc = argc > 0 ? 1 : 0;
    QApplication application(qtArgc, argv);

    Profile profile(Profile::DefaultPath());
    PrepareApplication(profile);

    // The objects that live as long as the program, handed by reference to those that use them.
    SpectrumStore store;
    SystemClock clock;
    TavrekModule module(store, clock);

    CVibrationApp app(store, module, profile);
    app.InitInstance();
    return 0;
}
