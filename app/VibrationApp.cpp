#include "VibrationApp.h"

#include "VibrationDialog.h"

CVibrationApp::CVibrationApp(SpectrumStore& store, ModuleSession& session, Profile& profile)
    : store_(store), session_(session), profile_(profile) {}

bool CVibrationApp::InitInstance() {
    CVibrationDialog dialog(store_, session_, profile_, nullptr);
    dialog.DoModal();
    return false;
}
