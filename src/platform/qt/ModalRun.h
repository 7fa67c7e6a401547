#pragma once

#include <functional>

class QDialog;

// Runs a dialog modally and returns its result (QDialog::Accepted or
// Rejected). Every modal dialog of the program runs through here so that
// tests can answer it.
int RunModal(QDialog& dialog);

// Test hook: called once the dialog runs (from its own event loop), with the
// dialog; the hook works the dialog as a user would and closes it.
void SetModalHook(std::function<void(QDialog&)> hook);

// A dialog whose worker waits on blocking calls into it: serves those calls,
// but takes no user input, while bRunning holds (the worker's final message
// clears it).
void ServeCallsWhile(const bool& bRunning);

// Closes the dialog as cancelled once its modal run has begun; a close during
// exec()'s own show would leave exec() waiting.
void RejectLater(QDialog& dialog);
