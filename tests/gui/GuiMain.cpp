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
    const QColor window(53, 53, 53), base(35, 35, 35), text(230, 230, 230), disabled(127, 127, 127);
    QPalette palette;
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::ToolTipBase, QColor(25, 25, 25));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, window);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, Qt::red);
    palette.setColor(QPalette::Link, QColor(42, 130, 218));
    palette.setColor(QPalette::Highlight, QColor(42, 130, 218));
    palette.setColor(QPalette::HighlightedText, Qt::black);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, disabled);
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
