// Sorvell: vibration spectra of the Tavrek two-axis sensor module on a serial line.

#include <QApplication>

#include "Startup.h"
#include "VibrationApp.h"

namespace {

constexpr const char* HelpText =
    "Usage: sorvell [--help] [--version]\n"
    "Vibration analyser for the Tavrek two-axis sensor module on a serial line. Finds the module\n"
    "on the COM port saved in the profile ($XDG_CONFIG_HOME/sorvell.ini, else\n"
    "~/.config/sorvell.ini) and shows the spectra of both axes against their limits.\n"
    "\n"
    "Needs a display: DISPLAY (or a Wayland session), or QT_QPA_PLATFORM=offscreen to run\n"
    "without one. Other arguments are ignored.\n"
    "\n"
    "  --help      show this text and exit\n"
    "  --version   show the version and exit\n";

}  // namespace

int main(int argc, char** argv) {
    if (const std::optional<int> status =
            AnswerInformationOptions(argc, argv, "sorvell", HelpText)) {
        return *status;
    }
    // Any other argument is ignored: Qt is given the program name only.
    int qtArgc = argc > 0 ? 1 : 0;
    BeginDisplayCheck("sorvell");
    QApplication application(qtArgc, argv);
    EndDisplayCheck();

    ProgramObjects program;
    CVibrationApp app(program.store, program.module, program.profile, program.ports);
    app.InitInstance();
    return 0;
}
