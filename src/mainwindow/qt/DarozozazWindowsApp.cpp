#include "mainwindow/qt/DarozozazWindowsApp.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>
#include <QTranslator>
#include <QWidget>
#include <chrono>
#include <memory>

#include "config/TextMemory.h"
#include "mainwindow/qt/DarozozazWindowsDlg.h"
#include "platform/AutoResetEvent.h"
#include "platform/StopSignals.h"
#include "platform/qt/Guard.h"
#include "unit/Unit.h"
#include "workflows/Jobs.h"

namespace {

// SIGTERM and SIGHUP (a session ending, a service manager, a serial bridge
// going away) and SIGINT from a terminal end the program as a job's Cancel
// does, without a question: the job stops between two telegrams, its dialog
// closes the link (exclusive flag cleared, lock file removed), and the run
// ends with 128 + the signal's number. A message box the job waits on is
// answered for it; a job that does not stop within a few seconds is left to
// the dialogs' own teardown.
void WatchStopSignals(QApplication& app)
{
    platform::InstallStopSignals({&ScanStopEvent(), &TransferStopEvent()});
    if (platform::StopSignalFd() < 0)
        return;
    auto* notifier = new QSocketNotifier(platform::StopSignalFd(), QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [notifier, &app] {
        platform::DrainStopSignalFd();
        notifier->setEnabled(false);
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        auto* timer = new QTimer(&app);
        QObject::connect(timer, &QTimer::timeout, &app, [timer, giveUp] {
            if (TheUnit().IsPortOpen() && std::chrono::steady_clock::now() < giveUp) {
                ScanStopEvent().Set();
                TransferStopEvent().Set();
                if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                    box->reject();
                return;
            }
            timer->stop();
            QCoreApplication::exit(platform::StopSignalExitStatus());
        });
        timer->start(20);
    });
}

}  // namespace

CDarozozazWindowsApp::CDarozozazWindowsApp(int& argc, char** argv) : QApplication(argc, argv)
{
    // The icon and logo live in a static library, linked only when named.
    Q_INIT_RESOURCE(vorlent);
    setApplicationName("Vorlent");
    setWindowIcon(QIcon(":/vorlent/icon.png"));
    SetFailureCaptionSource(FailureCaption);
}

int CDarozozazWindowsApp::InitInstance()
{
    WatchStopSignals(*this);
    CDarozozazWindowsDlg window;
    if (!window.OnInitDialog())
        return platform::StopSignalReceived() ? platform::StopSignalExitStatus() : 1;
    window.exec();
    if (TheUnit().IsPortOpen())
        TheUnit().ClosePort();
    return platform::StopSignalExitStatus();
}

bool CDarozozazWindowsApp::notify(QObject* receiver, QEvent* event)
{
    bool bHandled = true;
    RunGuarded(qobject_cast<QWidget*>(receiver), [&] { bHandled = QApplication::notify(receiver, event); });
    return bHandled;
}

std::string FailureCaption()
{
    // Built-in English: the caption, text 0, may be the very text missing.
    return TheTextMemory().GetTextOr(0, "Vorlent");
}

bool UseQtTranslations(const std::string& locale)
{
    static std::unique_ptr<QTranslator> installed;
    if (!QCoreApplication::instance())
        return false;
    if (installed) {
        QCoreApplication::removeTranslator(installed.get());
        installed.reset();
    }
    const QLocale language(QString::fromStdString(locale.empty() ? std::string("en") : locale));
    QLocale::setDefault(language);
    if (language.language() == QLocale::English || language.language() == QLocale::C)
        return false;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(language, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    QCoreApplication::installTranslator(translator.get());
    installed = std::move(translator);
    return true;
}

