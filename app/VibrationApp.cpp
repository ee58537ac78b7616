#include "VibrationApp.h"

#include "VibrationDialog.h"

CVibrationApp::CVibrationApp(SpectrumStore& store, ModuleSession& session, Profile& profile,
                             PortListSource& ports)
    : store_(store), session_(session), profile_(profile), ports_(ports) {}

bool CVibrationApp::InitInstance() {
    CVibrationDialog dialog(store_, session_, profile_, ports_, nullptr);
    dialog.DoModal();
    return false;
}
