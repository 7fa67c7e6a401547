// The window tests' main: one QApplication for the process, on the
// offscreen platform unless the environment names another.
// VORLENT_SCREENSHOT_PALETTE=dark gives the program what a dark desktop
// theme gives it: the Fusion style with a dark palette.
#include <QApplication>
#include <QPalette>
#include <QStyleFactory>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>

#include "mainwindow/qt/DarozozazWindowsApp.h"
#include "platform/qt/Guard.h"

namespace {

QPalette DarkPalette()
{
    // Qt derives black base, white text and the shades between from the one
    // dark colour; tooltips and the selection are set as dark themes do.
    QPalette palette(QColor(53, 53, 53));
    palette.setColor(QPalette::Base, QColor(35, 35, 35));
    palette.setColor(QPalette::ToolTipBase, QColor(25, 25, 25));
    palette.setColor(QPalette::ToolTipText, Qt::white);
    palette.setColor(QPalette::Highlight, QColor(42, 130, 218));
    return palette;
}

}  // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    const char* palette = std::getenv("VORLENT_SCREENSHOT_PALETTE");
    if (palette && std::strcmp(palette, "dark") == 0) {
        QApplication::setStyle(QStyleFactory::create("Fusion"));
        QApplication::setPalette(DarkPalette());
    }
    // As the program's application object does.
    SetFailureCaptionSource(FailureCaption);
    return RUN_ALL_TESTS();
}
