#pragma once

#include <QApplication>

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

// The message that reports an exception which ended a user action: names
// the missing text number and the language file when a text was missing.
std::string DescribeFailure(const std::exception& failure);
void ReportFailure(QWidget* parent, const std::exception& failure);
