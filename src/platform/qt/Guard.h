#pragma once

#include <exception>
#include <functional>
#include <string>

class QDialog;
class QWidget;

// The one place where a failure thrown by a handler of the window becomes a
// message to the user instead of leaving into Qt's event dispatch (or into a
// worker's blocking call). In practice the failure is a text missing from
// the language file: the text store throws std::invalid_argument naming the
// number and the file.
// The message for a failure that ended a user action, in English: the text
// missing may be any of the language file's.
std::string DescribeFailure(const std::exception& failure);

// Where the caption of the failure box comes from (the program title of the
// loaded language file, with a built-in fallback); set once at start. Until
// then the caption is "Vorlent".
void SetFailureCaptionSource(std::string (*caption)());

// Shows the failure in an error box over parent (which may be null).
void ReportFailure(QWidget* parent, const std::exception& failure);

// Runs handler. Whatever it throws is reported over parent; false then.
bool RunGuarded(QWidget* parent, const std::function<void()>& handler);

// A sent message from a worker thread: runs handler, guarded, on dialog's
// (the user-interface) thread while the worker waits.
void SendGuarded(QWidget* dialog, const std::function<void()>& handler);

// A dialog fetches its texts when it opens: runs init the first time the
// dialog shows. A text missing from the language file is reported and the
// dialog closes again, as a Cancel would.
void InitialiseOnFirstShow(QDialog& dialog, bool& bInitialised, const std::function<void()>& init);
