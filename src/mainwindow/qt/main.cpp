#include <QDialog>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/TextMemory.h"
#include "mainwindow/qt/DarozozazWindowsApp.h"
#include "platform/ProgramDir.h"
#include "platform/SafeFormat.h"
#include "platform/qt/MessageBox.h"
#include "platform/qt/ModalRun.h"
#include "unit/BusTrace.h"

#ifndef VORLENT_VERSION_MAJOR
#define VORLENT_VERSION_MAJOR 0
#define VORLENT_VERSION_MINOR 0
#define VORLENT_VERSION_PATCH 0
#endif

namespace {

const char* const kUsage =
    "usage: vorlent [--trace FILE] [Qt options]\n"
    "       vorlent --help | --version\n"
    "  --trace FILE   append every telegram try to FILE (also: VORLENT_TRACE=FILE)\n"
    "  --help         this text\n"
    "  --version      the version and the program directory in use\n";

void PrintVersion()
{
    std::printf("vorlent %d.%d.%d\nprogram directory: %s (%s)\n", VORLENT_VERSION_MAJOR, VORLENT_VERSION_MINOR,
                VORLENT_VERSION_PATCH, platform::ProgramDirectory().c_str(),
                platform::ProgramDirSourceName(platform::ProgramDirectorySource()));
}

}  // namespace

int main(int argc, char** argv)
{
    // Answered before the application object exists: it needs a display,
    // and a question about the program must not.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            PrintVersion();
            return 0;
        }
    }

    // Outlives the application, so that the last job's lines reach the file.
    CBusTrace trace;
    CDarozozazWindowsApp app(argc, argv);
    // What Qt left over is the program's own.
    std::string tracePath;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--trace") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                std::fprintf(stderr, "vorlent: --trace needs a file name\n%s", kUsage);
                return 1;
            }
            tracePath = argv[++i];
        } else {
            std::fprintf(stderr, "vorlent: unknown argument '%s'\n%s", arg.c_str(), kUsage);
            return 1;
        }
    }
    // A program started from the desktop menu takes its trace from the
    // environment.
    const char* traceVariable = std::getenv("VORLENT_TRACE");
    if (tracePath.empty() && traceVariable)
        tracePath = traceVariable;
    std::string traceError;
    if (!tracePath.empty()) {
        char header[64];
        std::snprintf(header, sizeof header, "vorlent %d.%d.%d trace", VORLENT_VERSION_MAJOR,
                      VORLENT_VERSION_MINOR, VORLENT_VERSION_PATCH);
        if (trace.Open(tracePath, header, traceError)) {
            SetActiveBusTrace(&trace);
        } else {
            std::fprintf(stderr, "vorlent: cannot write the trace file %s: %s\n", tracePath.c_str(),
                         traceError.c_str());
            // Told once the window runs, when the language is loaded; the
            // program works on without a trace.
            QTimer::singleShot(0, [tracePath, traceError] {
                const CTextMemory& texts = TheTextMemory();
                const std::string text = platform::SafeFormat(
                    texts.GetTextOr(90, "The trace file %s cannot be written (%s).\nThe program works without a trace."),
                    {tracePath, traceError});
                ShowMessageBox(nullptr, text, FailureCaption(), MsgIcon::Warning);
            });
        }
    }

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
