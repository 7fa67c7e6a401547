#pragma once

#include <QApplication>
#include <string>

// The application: creates the main window and runs it modally; the program
// lives exactly as long as that run. Its notify is the last guard that keeps
// an exception from leaving an event handler into Qt.
class CDarozozazWindowsApp : public QApplication
{
public:
    CDarozozazWindowsApp(int& argc, char** argv);

    // Runs the whole program; returns the process exit code.
    int InitInstance();

    bool notify(QObject* receiver, QEvent* event) override;
};

// The caption of a failure box: the loaded language file's program title,
// or the built-in one.
std::string FailureCaption();

// Puts the toolkit's own texts (Yes, No, OK and Cancel of message boxes, the
// file and print dialogs) into the language named by locale ("de"), from the
// system's Qt translations; "en", an empty locale or one without a
// translation installed leaves them English. Replaces what a previous call
// installed. False when they stay English.
bool UseQtTranslations(const std::string& locale);

