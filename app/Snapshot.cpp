// sorvell-snapshot SECONDS FILE.png: runs the real main dialog on Qt's offscreen platform for the
// given time and writes an image of the window, for machines without a display.

#include <QApplication>
#include <QMessageBox>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "NumberText.h"
#include "Startup.h"
#include "VibrationDialog.h"

namespace {

constexpr int UsageError = 2;
constexpr int WindowNotUp = 3;

constexpr const char* HelpText =
    "Usage: sorvell-snapshot SECONDS FILE.png\n"
    "Runs the Sorvell main window on Qt's offscreen platform for SECONDS (above 0, up to 3600)\n"
    "and writes an image of it to FILE.png.\n"
    "\n"
    "Exit status: 0 when written; 1 when the image could not be written; 2 for bad arguments;\n"
    "3 when a message box or the Port Selection dialog was still waiting for an answer.\n"
    "\n"
    "  --help      show this text and exit\n"
    "  --version   show the version and exit\n";

int Usage() {
    std::fputs("usage: sorvell-snapshot SECONDS FILE.png (--help for more)\n", stderr);
    return UsageError;
}

}  // namespace

int main(int argc, char** argv) {
    if (const std::optional<int> status =
            AnswerInformationOptions(argc, argv, "sorvell-snapshot", HelpText)) {
        return *status;
    }
    if (argc != 3) {
        return Usage();
    }
    const std::optional<double> seconds = ParseNumber<double>(argv[1], NumberForms::CommandLine);
    if (!seconds || !(*seconds > 0.0 && *seconds <= 3600.0)) {
        std::fputs("sorvell-snapshot: SECONDS must be a number above 0 and up to 3600\n", stderr);
        return Usage();
    }
    const QString output = QString::fromLocal8Bit(argv[2]);
    if (output.isEmpty()) {
        return Usage();
    }

    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication application(qtArgc, argv);

    ProgramObjects program;
    CVibrationDialog dialog(program.store, program.module, program.profile, program.ports);

    // The deadline runs from the start, so that a connection step waiting for an answer (a
    // message box or the Port Selection dialog nobody can see) still ends in an image.
    QTimer::singleShot(static_cast<int>(*seconds * 1000.0), &dialog, [&] {
        const bool windowUp = dialog.isVisible() && QApplication::activeModalWidget() == &dialog;
        if (!dialog.grab().save(output, "PNG")) {
            std::fprintf(stderr, "sorvell-snapshot: could not write %s\n", argv[2]);
            std::fflush(stderr);
            std::_Exit(EXIT_FAILURE);
        }
        if (!windowUp) {
            // A message box or the Port Selection dialog is open (at start-up, or one of the
            // acquisition's messages): say which, with its text, since nobody can see it.
            QWidget* modal = QApplication::activeModalWidget();
            const auto* box = qobject_cast<QMessageBox*>(modal);
            const QString title = modal != nullptr ? modal->windowTitle() : QString();
            const QString text = box != nullptr ? box->text() : QString();
            std::fprintf(stderr,
                         "sorvell-snapshot: wrote %s (the main window as it stands), but \"%s\" "
                         "was waiting for an answer%s%s\n",
                         argv[2], qPrintable(title), text.isEmpty() ? "" : ": ", qPrintable(text));
            std::fflush(stderr);
            // Nested dialogs of the connection step would ask again; end here.
            std::_Exit(WindowNotUp);
        }
        dialog.KillTimerAndClose();
    });
    dialog.DoModal();
    std::printf("sorvell-snapshot: wrote %s\n", argv[2]);
    return 0;
}
