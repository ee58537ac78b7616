#include "Startup.h"

#include <QMessageBox>
#include <iostream>

#include "ApplicationLook.h"
#include "MessageBoxHook.h"
#include "Profile.h"

void PrepareApplication(const Profile& profile) {
    ApplyApplicationLook();
    // The serial layer's MessageBoxA shows a real box here; it answers OK (1).
    SetMessageBoxHandler([](const char* text, const char* caption, unsigned) {
        QMessageBox box(QMessageBox::Warning, QString::fromUtf8(caption != nullptr ? caption : ""),
                        QString::fromUtf8(text != nullptr ? text : ""), QMessageBox::Ok);
        box.exec();
        return 1;
    });
    LoadComDeviceMap(profile, std::cerr);
}

ProgramObjects::ProgramObjects() : profile(Profile::DefaultPath()), module(store, clock) {
    PrepareApplication(profile);
}
