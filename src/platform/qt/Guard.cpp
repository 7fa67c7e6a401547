#include "platform/qt/Guard.h"

#include <QDialog>
#include <QTimer>
#include <stdexcept>

#include "platform/qt/MessageBox.h"

namespace {

std::string DefaultCaption() { return "Vorlent"; }

std::string (*g_caption)() = DefaultCaption;

}  // namespace

std::string DescribeFailure(const std::exception& failure)
{
    // The text store's message names the text number and the file.
    if (dynamic_cast<const std::invalid_argument*>(&failure))
        return std::string("This action could not be completed because a text is missing: ") + failure.what() +
               ".\nPlease use a complete language file.";
    return std::string("This action could not be completed: ") + failure.what();
}

void SetFailureCaptionSource(std::string (*caption)()) { g_caption = caption ? caption : DefaultCaption; }

void ReportFailure(QWidget* parent, const std::exception& failure)
{
    ShowMessageBox(parent, DescribeFailure(failure), g_caption(), MsgIcon::Error);
}

bool RunGuarded(QWidget* parent, const std::function<void()>& handler)
{
    try {
        handler();
        return true;
    } catch (const std::exception& failure) {
        ReportFailure(parent, failure);
    } catch (...) {
        ReportFailure(parent, std::runtime_error("an unknown failure"));
    }
    return false;
}

void SendGuarded(QWidget* dialog, const std::function<void()>& handler)
{
    QMetaObject::invokeMethod(
        dialog, [dialog, &handler] { RunGuarded(dialog, handler); }, Qt::BlockingQueuedConnection);
}

void InitialiseOnFirstShow(QDialog& dialog, bool& bInitialised, const std::function<void()>& init)
{
    if (bInitialised)
        return;
    bInitialised = true;
    if (!RunGuarded(&dialog, init))
        QTimer::singleShot(0, &dialog, &QDialog::reject);
}
