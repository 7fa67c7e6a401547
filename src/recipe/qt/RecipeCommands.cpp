// The File menu's recipe commands: Open, Save, Save as and Comment.
#include <QDialog>
#include <algorithm>
#include <string>

#include "config/StatusTexts.h"
#include "config/TextMemory.h"
#include "mainwindow/qt/DarozozazWindowsDlg.h"
#include "mainwindow/qt/MSFlexGrid.h"
#include "platform/SafeFormat.h"
#include "platform/qt/FileDialogs.h"
#include "platform/qt/MenuBar.h"
#include "platform/qt/MessageBox.h"
#include "platform/qt/ModalRun.h"
#include "recipe/qt/DlgComment.h"
#include "recipe/Recipe.h"
#include "unit/Unit.h"
#include "workflows/Jobs.h"

namespace {

const std::string& Text(int n) { return TheTextMemory().GetText(n); }

// A '|' in a language text would split the filter into entries of its own.
std::string FilterDescription(std::string text)
{
    std::replace(text.begin(), text.end(), '|', '/');
    return text;
}

// One filter entry for the files whose extension is the unit's AZ number.
std::string RecipeFilter(int nAZNumber)
{
    return platform::SafeFormat("%s (*.%d)|*.%d||", {FilterDescription(Text(54)), static_cast<long long>(nAZNumber),
                                                     static_cast<long long>(nAZNumber)});
}

std::string AllFilesFilter() { return FilterDescription(Text(55)) + " (*.*)|*.*||"; }

// The value a grid cell shows for the unit record (the mapping FillGrid uses).
int32_t CellValue(CUnit& unit, int nGrid, int row, int col)
{
    const auto zone = static_cast<int16_t>(row);
    if (nGrid == 0)
        return unit.ReadGlobalParam(zone);
    if (nGrid == 2 && col == 1)
        return unit.ReadSetValue(zone);
    if (nGrid == 2 && col == 2)
        return unit.ReadActualValue(zone);
    return unit.ReadZoneParam(zone, static_cast<int16_t>(col));
}

// Puts value back into the record where cell (row, col) of grid g takes it
// from; the link is closed, so nothing goes to the unit.
void StoreCellValue(CUnit& unit, int nGrid, int row, int col, int32_t value)
{
    const auto zone = static_cast<int16_t>(row);
    if (nGrid == 0)
        unit.WriteGlobalParam(zone, value);
    else if (nGrid == 2 && col == 1)
        unit.WriteSetValue(zone, value);
    else if (nGrid == 1)
        unit.WriteZoneParam(zone, static_cast<int16_t>(col), value);
}

// What the record held for a cell before the recipe was read; -1 when the
// capture has no such value.
int32_t ValueBefore(const UnitValues& before, int nGrid, int row, int col)
{
    const auto at = [](const std::vector<int32_t>& values, int i) {
        return i >= 1 && i <= static_cast<int>(values.size()) ? values[static_cast<std::size_t>(i - 1)] : -1;
    };
    if (nGrid == 0)
        return at(before.globals, row);
    if (nGrid == 2)
        return at(before.setValues, row);
    if (row < 1 || row > static_cast<int>(before.zoneParams.size()))
        return -1;
    return at(before.zoneParams[static_cast<std::size_t>(row - 1)], col);
}

// The save failed and the file on disk is what it was before: say so rather
// than let the user believe the recipe is stored.
void ReportSaveFailure(QWidget* parent)
{
    const std::string text = TheTextMemory().GetTextOr(76, "The recipe file could not be saved.");
    ShowMessageBox(parent, text.empty() ? "The recipe file could not be saved." : text, Text(0), MsgIcon::Error);
}

// The folder a path names its file in; empty for a bare file name.
std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

std::string CDarozozazWindowsDlg::FileDialogFolder() const
{
    const std::string recipeFolder = FolderOf(m_strRecipePath);
    return recipeFolder.empty() ? m_strLastFolder : recipeFolder;
}

void CDarozozazWindowsDlg::RememberFolderOf(const std::string& path)
{
    const std::string folder = FolderOf(path);
    if (!folder.empty())
        m_strLastFolder = folder;
}

void CDarozozazWindowsDlg::OnFileOpen()
{
    CUnit& unit = TheUnit();
    const int nAZNumber = unit.QueryAZNumber();
    int nSavedRow = -1;
    int nSavedCol = -1;
    if (m_nCurrentView != -1) {
        nSavedRow = Grid(m_nCurrentView).GetRow();
        nSavedCol = Grid(m_nCurrentView).GetCol();
    }

    const bool bOffline = unit.IsOffline();
    const std::string filter = bOffline ? AllFilesFilter() : RecipeFilter(nAZNumber);
    std::string path;
    if (!GetOpenFilePath(this, filter, FileDialogFolder(), path))
        return;
    RememberFolderOf(path);

    const std::string previousPath = m_strRecipePath;
    m_strRecipePath = path;
    UpdateTitle(true);

    const UnitValues before = bOffline ? UnitValues{} : CaptureValues(unit);
    switch (ReadRecipe(unit, m_strRecipePath)) {
    case RecipeResult::NotARecipe:
        ShowMessageBox(this, Text(34), Text(0), MsgIcon::Error);
        UpdateTitle(false);
        return;
    case RecipeResult::OtherUnit:
        ShowMessageBox(this, Text(29), Text(0), MsgIcon::Warning);
        // The other unit's file must not stay current: a later Save would
        // replace it with this unit's values without a word.
        m_strRecipePath = previousPath;
        UpdateTitle(!m_strRecipePath.empty());
        return;
    default:
        break;
    }
    m_menu->Enable(cmd::kFileSave, true);

    if (bOffline) {
        // The file defines the unit: rebuild everything from the record.
        for (int g = 0; g < 3; ++g)
            FillGrid(g, false, true);
        m_menu->EnableMenu(menupos::kParameters, true);
        m_menu->Enable(cmd::kLoadStandardParams, false);
        // Enabling the menu must not bring back a view that has nothing to show.
        if (m_bNoDefinitions)
            m_menu->Enable(cmd::kGlobalParams, false);
        ShowView(2);
        return;
    }

    // A unit is selected: every cell whose value the recipe changed gets the
    // new value, turns yellow and is listed for the next send. Nothing is
    // drawn until the pass ends.
    setUpdatesEnabled(false);
    if (m_nCurrentView != -1)
        Grid(m_nCurrentView).hide();
    int nTooWide = 0;
    std::string firstTooWide;
    for (int g = 0; g < 3; ++g) {
        CMSFlexGrid& grid = Grid(g);
        const ValueRange range = UnitValueRange(unit, g);
        for (int r = 1; r < grid.GetRows(); ++r) {
            for (int k = 1; k < grid.GetCols() && (g != 0 || k == 1); ++k) {
                const int32_t value = CellValue(unit, g, r, k);
                const std::string text = std::to_string(value);
                // A global parameter the recipe does not hold is never marked.
                if (text == grid.GetTextMatrix(r, k) || (g == 0 && value == -1))
                    continue;
                // A value with more digits than the unit's field would be
                // sent with them: never marked, and the record keeps what the
                // unit holds, so that no later refill shows it as the unit's.
                if (!range.Contains(value)) {
                    if (nTooWide++ == 0)
                        firstTooWide = grid.GetTextMatrix(r, 0) + ", " + grid.GetTextMatrix(0, k) + ": " + text;
                    StoreCellValue(unit, g, r, k, ValueBefore(before, g, r, k));
                    continue;
                }
                const bool bListed = g == 0 ? ListChange(g, r, -1, false) : ListChange(g, k, r, false);
                grid.SetRow(r);
                grid.SetCol(k);
                grid.SetTextMatrix(r, k, text);
                // Yellow promises a send; a cell the full list could not
                // take keeps its colour.
                if (bListed)
                    grid.SetCellBackColor(CMSFlexGrid::kYellow);
            }
        }
        // A value from the file may be wider than the column it lands in.
        for (int k = 1; k < grid.GetCols(); ++k)
            grid.FitColWidthToTexts(k);
    }
    if (m_nCurrentView == 1 || m_nCurrentView == 2) {
        Grid(m_nCurrentView).SetRow(nSavedRow);
        Grid(m_nCurrentView).SetCol(nSavedCol);
    }
    if (m_nCurrentView != -1)
        Grid(m_nCurrentView).show();
    setUpdatesEnabled(true);
    if (nTooWide > 0)
        ShowMessageBox(this,
                       platform::SafeFormat(TheTextMemory().GetTextOr(
                                                text::kRecipeTooWide,
                                                "The unit cannot take %d values of the recipe: they have more digits "
                                                "than its values.\nThey are not marked for sending. The first: %s"),
                                            {static_cast<long long>(nTooWide), firstTooWide}),
                       Text(0), MsgIcon::Warning);
}

void CDarozozazWindowsDlg::OnFileSave()
{
    if (m_strRecipePath.empty()) {
        OnFileSaveAs();
        return;
    }
    if (!WriteRecipe(TheUnit(), TheTextMemory(), m_strRecipePath))
        ReportSaveFailure(this);
}

void CDarozozazWindowsDlg::OnFileSaveAs()
{
    // Offline this is the AZ number last identified or opened (0 before either).
    const int nAZNumber = TheUnit().QueryAZNumber();
    const std::string filter = RecipeFilter(nAZNumber);
    // The current recipe's name is proposed, in its folder.
    const std::string start = m_strRecipePath.empty() ? FileDialogFolder() : m_strRecipePath;
    std::string path;
    if (!GetSaveFilePath(this, filter, std::to_string(nAZNumber), start, path))
        return;
    RememberFolderOf(path);

    // The new name becomes current only once the file exists: after a
    // failure the title and Save keep naming the file that was last saved.
    if (!WriteRecipe(TheUnit(), TheTextMemory(), path)) {
        ReportSaveFailure(this);
        return;
    }
    m_strRecipePath = path;
    UpdateTitle(true);
    m_menu->Enable(cmd::kFileSave, true);
}

void CDarozozazWindowsDlg::OnComment()
{
    CUnit& unit = TheUnit();
    CDlgComment dialog(this);
    dialog.SetCommentText(unit.GetComment());
    if (RunModal(dialog) == QDialog::Accepted)
        unit.SetComment(dialog.GetCommentText());
}
