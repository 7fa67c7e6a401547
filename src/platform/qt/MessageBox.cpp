#include "platform/qt/MessageBox.h"

#include <QMessageBox>

#include "platform/qt/QtText.h"

namespace {

std::function<int(const MessageBoxRequest&)>& Hook()
{
    static std::function<int(const MessageBoxRequest&)> hook;
    return hook;
}

}  // namespace

void SetMessageBoxHook(std::function<int(const MessageBoxRequest&)> hook) { Hook() = std::move(hook); }

int ShowMessageBox(QWidget* parent, const MessageBoxRequest& request)
{
    if (Hook())
        return Hook()(request);

    QMessageBox box(parent);
    box.setWindowTitle(Q(request.caption));
    box.setText(Q(request.text));
    switch (request.icon) {
    case MsgIcon::Error: box.setIcon(QMessageBox::Critical); break;
    case MsgIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case MsgIcon::Question: box.setIcon(QMessageBox::Question); break;
    case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
    }
    if (request.buttons == MsgButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(request.bDefaultNo ? QMessageBox::No : QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? kIdYes : kIdNo;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return kIdOk;
}

int ShowMessageBox(QWidget* parent, const std::string& text, const std::string& caption, MsgIcon icon,
                   MsgButtons buttons, bool bDefaultNo)
{
    return ShowMessageBox(parent, MessageBoxRequest{text, caption, icon, buttons, bDefaultNo});
}
