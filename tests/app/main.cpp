// GUI suites need a QApplication before the first widget; the look is the program's own.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <cstdlib>

#include "ApplicationLook.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // No test may read or write the user's own profile.
    const QTemporaryDir configHome;
    if (!configHome.isValid()) {
        return 1;
    }
    setenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit().constData(), 1);
    QApplication application(argc, argv);
    ApplyApplicationLook();
    return RUN_ALL_TESTS();
}
