#include "platform/qt/FileDialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>

#include "platform/qt/QtText.h"

namespace {

using Hook = std::function<bool(const std::string&, const std::string&, const std::string&, std::string&)>;

Hook& TheHook()
{
    static Hook hook;
    return hook;
}

}  // namespace

void SetFileDialogHook(Hook hook) { TheHook() = std::move(hook); }

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

bool GetOpenFilePath(QWidget* parent, const std::string& filter, std::string& path)
{
    const std::string qtFilter = QtFilterFromPattern(filter);
    if (TheHook())
        return TheHook()("open", qtFilter, "", path);
    const QString chosen = QFileDialog::getOpenFileName(parent, QString(), QString(), Q(qtFilter));
    if (chosen.isEmpty())
        return false;
    path = S(chosen);
    return true;
}

bool GetSaveFilePath(QWidget* parent, const std::string& filter, const std::string& defaultExtension,
                     std::string& path)
{
    const std::string qtFilter = QtFilterFromPattern(filter);
    if (TheHook())
        return TheHook()("save", qtFilter, defaultExtension, path);
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(Q(qtFilter));
    dialog.setDefaultSuffix(Q(defaultExtension));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    path = S(dialog.selectedFiles().first());
    return true;
}
