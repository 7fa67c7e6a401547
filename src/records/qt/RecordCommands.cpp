// The main window's records: the change record of its sends, the change
// history, the comparison with a recipe and the CSV export.
#include <QDialog>
#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "config/IniFile.h"
#include "config/PortMap.h"
#include "config/TextMemory.h"
#include "mainwindow/qt/DarozozazWindowsDlg.h"
#include "mainwindow/qt/MSFlexGrid.h"
#include "platform/ProfileFile.h"
#include "platform/SafeFormat.h"
#include "platform/qt/FileDialogs.h"
#include "platform/qt/MenuBar.h"
#include "platform/qt/MessageBox.h"
#include "platform/qt/ModalRun.h"
#include "recipe/Recipe.h"
#include "records/ChangeRecord.h"
#include "records/RecordTexts.h"
#include "records/ValueCompare.h"
#include "records/qt/DlgChangeHistory.h"
#include "records/qt/DlgCompare.h"
#include "unit/Unit.h"

namespace {

using namespace records::text;

constexpr int kTextExported = 188;

const std::string& Text(int n) { return TheTextMemory().GetText(n); }

std::string TextOr(int n, const char* fallback, const std::vector<platform::FormatArg>& args = {})
{
    return platform::SafeFormat(TheTextMemory().GetTextOr(n, fallback), args);
}

std::string DevicePath()
{
    CUnit& unit = TheUnit();
    const std::string& opened = unit.GetComPort().GetDevicePath();
    return opened.empty() ? DevicePathForPort(unit.GetPort()) : opened;
}

// A '|' in a language text would split the filter into entries of its own.
std::string FilterText(int n, const char* fallback)
{
    std::string text = TextOr(n, fallback);
    std::replace(text.begin(), text.end(), '|', '/');
    return text;
}

}  // namespace

UnitValues CDarozozazWindowsDlg::HeldInWindow()
{
    // The record with the link closed gives what was received or opened;
    // with a unit selected, an edit waits in its grid until it is sent.
    UnitValues values = CaptureValues(TheUnit());
    for (int g = 0; g < 3; ++g) {
        for (int j = 0; j < GetChangeCount(g) && j < kChangeListSize; ++j) {
            SendItem item;
            int row = 0;
            int col = 0;
            if (!ChangedCell(g, GetChange(g, j), item, row, col))
                continue;
            const auto r = static_cast<std::size_t>(row - 1);
            const auto c = static_cast<std::size_t>(col - 1);
            if (g == 0 && r < values.globals.size())
                values.globals[r] = item.value;
            else if (g == 1 && r < values.zoneParams.size() && c < values.zoneParams[r].size())
                values.zoneParams[r][c] = item.value;
            else if (g == 2 && r < values.setValues.size())
                values.setValues[r] = item.value;
        }
    }
    return values;
}

void CDarozozazWindowsDlg::NoteReceivedValues()
{
    if (!m_sendRecord)
        m_sendRecord = std::make_shared<records::CSendRecorder>();
    m_sendRecord->SetHeld(CaptureValues(TheUnit()));
}

bool CDarozozazWindowsDlg::BeginSendRecord()
{
    if (!m_sendRecord)
        m_sendRecord = std::make_shared<records::CSendRecorder>();
    const records::RecordedUnit unit = records::RecordedUnitOf(TheUnit(), DevicePath());
    const std::string path = records::ChangeRecordPath();
    if (m_sendRecord->Begin(path, unit))
        return true;
    const std::string question =
        TextOr(kAskSendUnrecorded,
               "The change record %s cannot be written (%s).\nSend the values without recording them?",
               {path, m_sendRecord->Error()});
    if (ShowMessageBox(this, question, Text(0), MsgIcon::Warning, MsgButtons::YesNo, true) != kIdYes)
        return false;
    m_sendRecord->SkipRecord(unit);
    return true;
}

bool CDarozozazWindowsDlg::RecordSending(const SendItem& item)
{
    if (!m_sendRecord || m_sendRecord->Sending(TheUnit(), item))
        return true;
    m_bSendRecordStopped = true;
    return false;
}

bool CDarozozazWindowsDlg::RecordSendOutcome(const SendOutcome& outcome)
{
    if (!m_sendRecord || m_sendRecord->Record(TheUnit(), outcome))
        return true;
    m_bSendRecordStopped = true;
    return false;
}

void CDarozozazWindowsDlg::EndSendRecord()
{
    const bool bStopped = std::exchange(m_bSendRecordStopped, false);
    if (!m_sendRecord)
        return;
    const bool bSynced = m_sendRecord->End();
    if (bStopped) {
        ShowMessageBox(this,
                       TextOr(kSendStoppedByRecord,
                              "The change record %s could not be written (%s).\n"
                              "The send stopped before the next value; the values not sent still wait.",
                              {m_sendRecord->Path(), m_sendRecord->Error()}),
                       Text(0), MsgIcon::Error);
        return;
    }
    if (bSynced)
        return;
    ShowMessageBox(this,
                   TextOr(kRecordWriteFailed,
                          "The change record %s could not be written (%s).\n"
                          "The values were sent; the record may lack some of them.",
                          {m_sendRecord->Path(), m_sendRecord->Error()}),
                   Text(0), MsgIcon::Error);
}

void CDarozozazWindowsDlg::OnChangeHistory()
{
    const std::string path = records::ChangeRecordPath();
    std::vector<std::vector<std::string>> lines;
    std::string error;
    if (!records::ReadChangeRecord(path, lines, error)) {
        ShowMessageBox(this, TextOr(kHistoryUnreadable, "The change record %s cannot be read (%s).", {path, error}),
                       Text(0), MsgIcon::Error);
        return;
    }
    CDlgChangeHistory dialog(lines, TheUnit().QueryAZNumber(), this);
    RunModal(dialog);
}

void CDarozozazWindowsDlg::OnCompareWithRecipe()
{
    if (m_nCurrentView == -1) {
        ShowMessageBox(this, TextOr(kNothingHeld, "There are no values to compare yet."), Text(0), MsgIcon::Information);
        return;
    }
    const long long az = TheUnit().QueryAZNumber();
    const std::string filter =
        platform::SafeFormat("%s (*.%d)|*.%d|", {FilterText(54, "Recipes"), az, az}) +
        FilterText(55, "All files") + " (*.*)|*.*||";
    std::string path;
    if (!GetOpenFilePath(this, filter, FileDialogFolder(), path))
        return;
    RememberFolderOf(path);
    records::RecipeValues recipe;
    if (records::LoadRecipeValues(path, TheUnit(), recipe) != records::RecipeLoad::Loaded) {
        ShowMessageBox(this, Text(34), Text(0), MsgIcon::Error);
        return;
    }
    if (recipe.azNumber != az) {
        ShowMessageBox(this, Text(29), Text(0), MsgIcon::Warning);
        return;
    }
    CDlgCompare dialog(records::CompareValues(HeldInWindow(), recipe.values), RecipeFileName(path), this,
                       [this](const SendItem& item) { return TakeValue(item); });
    RunModal(dialog);
    // A double-click on a line: its cell, in its grid, becomes current.
    if (const std::optional<SendItem> jump = dialog.JumpTarget()) {
        int view = 0, row = jump->index, col = 1;
        if (jump->kind == SendItem::Kind::SetValue) {
            view = 2;
            row = jump->zone;
        } else if (jump->kind == SendItem::Kind::ZoneParam) {
            view = 1;
            row = jump->zone;
            col = jump->index;
        }
        if (m_menu->IsEnabled(view == 0 ? cmd::kGlobalParams : view == 1 ? cmd::kZoneParams : cmd::kActualSetValues))
            ShowView(view);
        CMSFlexGrid& grid = Grid(m_nCurrentView);
        if (m_nCurrentView == view && row < grid.GetRows() && col < grid.GetCols()) {
            grid.SetRow(row);
            grid.SetCol(col);
        }
    }
}

void CDarozozazWindowsDlg::OnExportCsv()
{
    if (m_nCurrentView == -1)
        return;
    const std::string filter = FilterText(kCsvFiles, "CSV files") + " (*.csv)|*.csv||";
    std::string path;
    if (!GetSaveFilePath(this, filter, "csv", FileDialogFolder(), path))
        return;
    RememberFolderOf(path);
    if (!platform::ReplaceFileAtomically(path, records::ValuesCsv(HeldInWindow(), TheUnit())))
        ShowMessageBox(this, TextOr(kCsvNotWritten, "The CSV file %s could not be written.", {path}), Text(0),
                       MsgIcon::Error);
    else
        ShowMessageBox(this, TextOr(kTextExported, "The values were written to %s.", {path}), Text(0),
                       MsgIcon::Information);
}
