#include "GuiSupport.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QRadioButton>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include "platform/qt/ModalRun.h"

DialogScript::DialogScript()
{
    SetModalHook([this](QDialog& dialog) {
        if (m_dialogs.empty()) {
            ADD_FAILURE() << "an unexpected dialog opened: " << dialog.objectName().toStdString();
            dialog.reject();
            return;
        }
        auto handler = std::move(m_dialogs.front());
        m_dialogs.pop_front();
        handler(dialog);
    });
    SetMessageBoxHook([this](const MessageBoxRequest& request) {
        m_boxes.push_back(request);
        if (!m_answers.empty()) {
            const int answer = m_answers.front();
            m_answers.pop_front();
            return answer;
        }
        return request.buttons == MsgButtons::YesNo ? static_cast<int>(kIdYes) : static_cast<int>(kIdOk);
    });
}

DialogScript::~DialogScript()
{
    SetModalHook(nullptr);
    SetMessageBoxHook(nullptr);
}

void DialogScript::ExpectDialog(std::function<void(QDialog&)> handler) { m_dialogs.push_back(std::move(handler)); }

void DialogScript::AnswerNextBox(int answer) { m_answers.push_back(answer); }

std::vector<std::string> DialogScript::BoxTexts() const
{
    std::vector<std::string> texts;
    for (const auto& box : m_boxes)
        texts.push_back(box.text);
    return texts;
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

void WhenReady(QDialog& dialog, std::function<bool()> condition, std::function<void()> action, int timeoutMs)
{
    auto* timer = new QTimer(&dialog);
    auto* clock = new QElapsedTimer;
    clock->start();
    QObject::connect(timer, &QObject::destroyed, [clock] { delete clock; });
    QObject::connect(timer, &QTimer::timeout, [&dialog, timer, clock, condition, action, timeoutMs] {
        if (condition()) {
            timer->stop();
            timer->deleteLater();
            action();
        } else if (clock->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "the dialog never got ready";
            dialog.done(QDialog::Rejected);
        }
    });
    timer->start(10);
}

void WorkWithoutUnit(QDialog& dialog)
{
    if (auto* offline = dialog.findChild<QRadioButton*>("1105"))
        offline->click();
    if (auto* ok = dialog.findChild<QAbstractButton*>("1"))
        ok->click();
    else
        dialog.accept();
}

std::string PortsSection(const std::string& com1)
{
    std::string ports = "[PORTS]\r\n";
    for (int n = 1; n <= 15; ++n) {
        const std::string path = n == 1 && !com1.empty() ? com1 : "/nonexistent/vorlent-com" + std::to_string(n);
        ports += "COM" + std::to_string(n) + "=" + path + "\r\n";
    }
    return ports;
}
