#include "mainwindow/DarozozazWindowsApp.h"

#include <QDialog>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>
#include <QWidget>
#include <memory>
#include <stdexcept>

#include "config/TextMemory.h"
#include "mainwindow/DarozozazWindowsDlg.h"
#include "platform/qt/MessageBox.h"

CDarozozazWindowsApp::CDarozozazWindowsApp(int& argc, char** argv) : QApplication(argc, argv)
{
    // The icon and logo live in a static library, linked only when named.
    Q_INIT_RESOURCE(vorlent);
    setApplicationName("Vorlent");
    setWindowIcon(QIcon(":/vorlent/icon.png"));
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
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& failure) {
        ReportFailure(qobject_cast<QWidget*>(receiver), failure);
    } catch (...) {
        ReportFailure(qobject_cast<QWidget*>(receiver), std::runtime_error("an unknown failure"));
    }
    return true;
}

std::string DescribeFailure(const std::exception& failure)
{
    // The text store's message names the text number and the file.
    if (dynamic_cast<const std::invalid_argument*>(&failure))
        return std::string("This action could not be completed because a text is missing: ") + failure.what() +
               ".\nPlease use a complete language file.";
    return std::string("This action could not be completed: ") + failure.what();
}

void ReportFailure(QWidget* parent, const std::exception& failure)
{
    // Built-in English: the caption, text 0, may be the very text missing.
    const std::string caption = TheTextMemory().GetTextOr(0, "Vorlent");
    ShowMessageBox(parent, DescribeFailure(failure), caption, MsgIcon::Error);
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

void InitialiseOnFirstShow(QDialog& dialog, bool& bInitialised, const std::function<void()>& init)
{
    if (bInitialised)
        return;
    bInitialised = true;
    try {
        init();
    } catch (const std::exception& failure) {
        ReportFailure(&dialog, failure);
        QTimer::singleShot(0, &dialog, &QDialog::reject);
    }
}
