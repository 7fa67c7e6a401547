#pragma once

#include <functional>
#include <string>

class QWidget;

enum class MsgIcon { Error, Warning, Question, Information };
enum class MsgButtons { Ok, YesNo };
enum MsgResult { kIdOk = 1, kIdYes = 6, kIdNo = 7 };

// What a message box was asked to show.
struct MessageBoxRequest
{
    std::string text;
    std::string caption;
    MsgIcon icon = MsgIcon::Information;
    MsgButtons buttons = MsgButtons::Ok;
    bool bDefaultNo = false;
};

// Shows a modal message box and returns the button pressed. Texts may hold
// line breaks.
int ShowMessageBox(QWidget* parent, const MessageBoxRequest& request);
int ShowMessageBox(QWidget* parent, const std::string& text, const std::string& caption, MsgIcon icon,
                   MsgButtons buttons = MsgButtons::Ok, bool bDefaultNo = false);

// Test hook: when set, no box is shown; the hook gets the request and
// returns the answer. Empty function: boxes are shown again.
void SetMessageBoxHook(std::function<int(const MessageBoxRequest&)> hook);
