// The window tests' main: one QApplication for the process, on the
// offscreen platform unless the environment names another.
#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

#include "mainwindow/qt/DarozozazWindowsApp.h"
#include "platform/qt/Guard.h"

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    // As the program's application object does.
    SetFailureCaptionSource(FailureCaption);
    return RUN_ALL_TESTS();
}
