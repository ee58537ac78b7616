// GUI suites need a QApplication before the first widget; the look is the program's own.
#include <gtest/gtest.h>

#include <QApplication>

#include "ApplicationLook.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    ApplyApplicationLook();
    return RUN_ALL_TESTS();
}
