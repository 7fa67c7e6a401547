#pragma once

#include <QDialog>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/qt/MessageBox.h"

// Answers the program's modal dialogs and message boxes for a test, in the
// order they come, and records every message box shown. Installed for the
// lifetime of the object; a dialog nobody expected is rejected and fails the
// test.
class DialogScript
{
public:
    DialogScript();
    ~DialogScript();

    // The next modal dialog is handed to this (which must close it).
    void ExpectDialog(std::function<void(QDialog&)> handler);
    // The next message box gets this answer (kIdOk, kIdYes, kIdNo); without
    // one queued, Ok boxes get kIdOk and Yes/No boxes kIdYes.
    void AnswerNextBox(int answer);

    const std::vector<MessageBoxRequest>& Boxes() const { return m_boxes; }
    // The texts of the boxes shown so far, in order.
    std::vector<std::string> BoxTexts() const;
    int PendingDialogs() const { return static_cast<int>(m_dialogs.size()); }

private:
    std::deque<std::function<void(QDialog&)>> m_dialogs;
    std::deque<int> m_answers;
    std::vector<MessageBoxRequest> m_boxes;
};

// Answers the interface dialog with "work without a unit" and OK.
void WorkWithoutUnit(QDialog& dialog);

// A [PORTS] section pointing COM1 at com1 (none when empty) and every other
// number nowhere, so no device of the machine is probed.
std::string PortsSection(const std::string& com1 = "");

// Runs the event loop until condition holds or timeoutMs passes (a guard
// against a hang, not a timing check). Returns whether it holds.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 10000);

// Runs action once condition holds, tested every 10 ms by a timer of the
// dialog's, so that the dialog's own event loop goes on serving its worker
// meanwhile: a handler that waited inside itself would run in a posted
// event, where the worker's blocking calls are not reliably served. After
// timeoutMs the test fails, action does not run and the dialog's run is
// ended, so that no test waits for ever; a dialog that is destroyed first
// takes the timer with it.
void WhenReady(QDialog& dialog, std::function<bool()> condition, std::function<void()> action,
               int timeoutMs = 10000);

// The widget of type T among the dialog's children whose object name is name.
template <typename T>
T* Child(QWidget& parent, const char* name)
{
    return parent.findChild<T*>(name);
}
