#include "platform/qt/FileDialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>

#include "platform/qt/QtText.h"

namespace {

using Hook = std::function<bool(const FileDialogRequest&, std::string&)>;

Hook& TheHook()
{
    static Hook hook;
    return hook;
}

// A folder starts the dialog there; a file path starts it in the file's
// folder with the name proposed.
void StartAt(QFileDialog& dialog, const std::string& startPath)
{
    if (startPath.empty())
        return;
    const QFileInfo start(Q(startPath));
    if (start.isDir()) {
        dialog.setDirectory(start.absoluteFilePath());
        return;
    }
    dialog.setDirectory(start.absolutePath());
    dialog.selectFile(start.fileName());
}

}  // namespace

void SetFileDialogRequestHook(Hook hook) { TheHook() = std::move(hook); }

void SetFileDialogHook(std::function<bool(const std::string&, const std::string&, const std::string&, std::string&)> hook)
{
    if (!hook) {
        TheHook() = nullptr;
        return;
    }
    TheHook() = [hook](const FileDialogRequest& request, std::string& path) {
        return hook(request.kind, request.filter, request.defaultExtension, path);
    };
}

std::string QtFilterFromPattern(const std::string& pattern)
{
    // "Recipes (*.7)|*.7||": pairs of description and pattern, separated by
    // '|'. Qt shows the description, which already names the pattern.
    QStringList parts = Q(pattern).split('|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty() && parts[i + 1].isEmpty())
            break;
        QString description = parts[i];
        const QString glob = parts[i + 1];
        if (!description.contains('(' + glob + ')'))
            description += " (" + glob + ")";
        filters << description;
    }
    return S(filters.join(";;"));
}

bool GetOpenFilePath(QWidget* parent, const std::string& filter, const std::string& startPath, std::string& path)
{
    const std::string qtFilter = QtFilterFromPattern(filter);
    if (TheHook())
        return TheHook()({"open", qtFilter, "", startPath}, path);
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(Q(qtFilter));
    StartAt(dialog, startPath);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    path = S(dialog.selectedFiles().first());
    return true;
}

bool GetSaveFilePath(QWidget* parent, const std::string& filter, const std::string& defaultExtension,
                     const std::string& startPath, std::string& path)
{
    const std::string qtFilter = QtFilterFromPattern(filter);
    if (TheHook())
        return TheHook()({"save", qtFilter, defaultExtension, startPath}, path);
    QFileDialog dialog(parent);
    StartAt(dialog, startPath);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(Q(qtFilter));
    dialog.setDefaultSuffix(Q(defaultExtension));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    path = S(dialog.selectedFiles().first());
    return true;
}
