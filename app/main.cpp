// Sorvell: vibration spectra of the Tavrek two-axis sensor module on a serial line.

#include <QApplication>

#include "Startup.h"
#include "VibrationApp.h"

int main(int argc, char** argv) {
    // The program takes no arguments: Qt is given the program name only.
    int qtArgc = argc > 0 ? 1 : 0;
    QApplication application(qtArgc, argv);

    ProgramObjects program;
    CVibrationApp app(program.store, program.module, program.profile);
    app.InitInstance();
    return 0;
}
