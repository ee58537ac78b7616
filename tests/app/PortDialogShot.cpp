// port-dialog-shot FILE.png: the Port Selection dialog as the program shows it, with two USB
// adapters in its list and the first one chosen, drawn offscreen into FILE.png. Made for the
// README's picture (docs/port-selection.png); built with the tests, never installed.
#include <QApplication>
#include <QListWidget>
#include <cstdio>

#include "ApplicationLook.h"
#include "FakePortList.h"
#include "PortSelectionDialog.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: port-dialog-shot FILE.png\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    ApplyApplicationLook();

    FixedPortList ports({FtdiAdapter(), SiliconLabsAdapter()});
    int portNumber = 3;
    CPortSelectionDialog dialog(portNumber, ports, {{4, "/dev/ttyUSB1"}});
    dialog.show();
    QApplication::processEvents();
    dialog.PortList()->item(0)->setSelected(true);
    QApplication::processEvents();
    if (!dialog.grab().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "port-dialog-shot: could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
