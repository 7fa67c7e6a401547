#include "platform/qt/ModalRun.h"

#include <QCoreApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>

namespace {

std::function<void(QDialog&)>& Hook()
{
    static std::function<void(QDialog&)> hook;
    return hook;
}

}  // namespace

void SetModalHook(std::function<void(QDialog&)> hook) { Hook() = std::move(hook); }

int RunModal(QDialog& dialog)
{
    if (Hook()) {
        QPointer<QDialog> guard(&dialog);
        auto hook = Hook();
        QTimer::singleShot(0, &dialog, [guard, hook] {
            if (guard)
                hook(*guard);
        });
    }
    return dialog.exec();
}

void ServeCallsWhile(const bool& bRunning)
{
    while (bRunning)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
}

void RejectLater(QDialog& dialog)
{
    QPointer<QDialog> guard(&dialog);
    QTimer::singleShot(0, &dialog, [guard] {
        if (guard && guard->isVisible())
            guard->done(QDialog::Rejected);
    });
}
