#include "mainwindow/qt/DarozozazWindowsApp.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QWidget>
#include <memory>

#include "config/TextMemory.h"
#include "mainwindow/qt/DarozozazWindowsDlg.h"
#include "platform/qt/Guard.h"

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
    CDarozozazWindowsDlg window;
    if (!window.OnInitDialog())
        return 1;
    window.exec();
    return 0;
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

