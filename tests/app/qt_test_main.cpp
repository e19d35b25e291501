// GoogleTest inside a QApplication. Without a display (as when CTest lists the tests at build
// time) Qt uses its offscreen platform.
#include <QApplication>
#include <gtest/gtest.h>

#include "app/startup.hpp"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    rkv::prepareQtApplication();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
