#include <QDialog>
#include <cstdio>
#include <cstdlib>

#include "mainwindow/DarozozazWindowsApp.h"
#include "platform/qt/ModalRun.h"

int main(int argc, char** argv)
{
    CDarozozazWindowsApp app(argc, argv);
    // For measuring start-up (make bench): report the moment the interface
    // dialog runs, and end there.
    if (std::getenv("VORLENT_STARTUP_PROBE")) {
        SetModalHook([](QDialog& dialog) {
            std::printf("dialog %s\n", dialog.objectName().toUtf8().constData());
            std::fflush(stdout);
            std::_Exit(0);
        });
    }
    return app.InitInstance();
}
