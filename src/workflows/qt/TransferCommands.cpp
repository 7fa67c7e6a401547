// The main window's side of the receive and the send: the two commands and
// the exchange of one change-list entry, which runs on this thread while the
// send worker waits.
#include <QDialog>
#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "config/IniFile.h"
#include "config/TextMemory.h"
#include "mainwindow/qt/DarozozazWindowsDlg.h"
#include "mainwindow/qt/MSFlexGrid.h"
#include "platform/SafeFormat.h"
#include "platform/qt/MenuBar.h"
#include "platform/qt/ModalRun.h"
#include "unit/Unit.h"
#include "workflows/qt/DlgReadWriteParams.h"
#include "workflows/Jobs.h"

namespace {

// Colours one cell, leaving the current cell and the fill style as they were.
void SetCellColour(CMSFlexGrid& grid, int row, int col, uint32_t colour)
{
    const int oldRow = grid.GetRow();
    const int oldCol = grid.GetCol();
    const int oldFill = grid.GetFillStyle();
    grid.SetFillStyle(0);
    grid.SetRow(row);
    grid.SetCol(col);
    grid.SetCellBackColor(colour);
    grid.SetRow(oldRow);
    grid.SetCol(oldCol);
    grid.SetFillStyle(oldFill);
}

void WhitenCellsOf(CMSFlexGrid& grid, uint32_t colour)
{
    for (int row = 1; row < grid.GetRows(); ++row) {
        for (int col = 1; col < grid.GetCols(); ++col) {
            if (grid.GetCellColour(row, col) == colour)
                SetCellColour(grid, row, col, CMSFlexGrid::kWhite);
        }
    }
}

// Every data cell white, through a selection of all of them; the current cell
// stays where the user left it.
void WhitenAllCells(CMSFlexGrid& grid)
{
    if (grid.GetRows() < 2 || grid.GetCols() < 2)
        return;
    const int oldRow = grid.GetRow();
    const int oldCol = grid.GetCol();
    grid.SetRow(1);
    grid.SetCol(1);
    grid.SetRowSel(grid.GetRows() - 1);
    grid.SetColSel(grid.GetCols() - 1);
    grid.SetFillStyle(1);
    grid.SetCellBackColor(CMSFlexGrid::kWhite);
    grid.SetFillStyle(0);
    grid.SetRow(oldRow);
    grid.SetCol(oldCol);
}

std::string Line(int n, const char* fallback, const std::vector<platform::FormatArg>& args = {})
{
    return platform::SafeFormat(TheTextMemory().GetTextOr(n, fallback), args);
}

// Why a cell turned red after its exchange: what went out (or was only
// entered), what the unit holds, and the reason.
std::string RedCellTip(CUnit& unit, const SendOutcome& outcome)
{
    const long long sent = outcome.item.value;
    const long long held = outcome.readBack;
    const bool bNoAnswer = outcome.code == WriteResult::NotAcknowledged && outcome.readBack == -1;
    std::string tip;
    if (outcome.code == WriteResult::Refused)
        tip = Line(88, "Entered, not sent: %s", {std::to_string(sent)});
    else
        tip = Line(79, "Sent: %s", {std::to_string(sent)});
    if (!bNoAnswer)
        tip += "\n" + Line(80, "The unit holds: %s", {std::to_string(held)});
    tip += "\n";
    if (outcome.code == WriteResult::Refused) {
        const int index = outcome.item.index;
        if (unit.GetParamMin(index) == unit.GetParamMax(index))
            tip += Line(82, "Not sent: a fixed parameter.");
        else
            tip += Line(81, "Refused: outside the limits %d to %d.",
                        {static_cast<long long>(unit.GetParamMin(index)),
                         static_cast<long long>(unit.GetParamMax(index))});
    } else if (bNoAnswer) {
        tip += Line(84, "The unit gave no answer.");
    } else if (outcome.code == WriteResult::NotAcknowledged) {
        tip += Line(83, "The unit did not acknowledge the value.");
    } else {
        tip += Line(85, "The unit holds another value than the one sent.");
    }
    return tip;
}

int32_t CellNumber(const std::string& text)
{
    return static_cast<int32_t>(std::clamp<long>(ToNumber(text), std::numeric_limits<int32_t>::min(),
                                                 std::numeric_limits<int32_t>::max()));
}

}  // namespace

void CDarozozazWindowsDlg::OnReceiveParams()
{
    UpdateTitle(false);
    m_menu->Enable(cmd::kFileSave, false);
    if (!FillGrid(0, true, true)) {
        ShowView(-1);
        return;
    }
    FillGrid(1, false, true);
    FillGrid(2, false, true);
    // What was waiting or failed before belongs to values now replaced.
    for (CMSFlexGrid* grid : m_grid)
        WhitenAllCells(*grid);
    if (m_nCurrentView == -1)
        ShowView(2);
}

void CDarozozazWindowsDlg::OnSendParams()
{
    HideCellEdit();
    if (!TheUnit().IsOffline()) {
        CMSFlexGrid* shown = m_nCurrentView == -1 ? nullptr : &Grid(m_nCurrentView);
        if (shown) {
            shown->hide();
            shown->SetRedraw(false);
        }
        for (CMSFlexGrid* grid : m_grid)
            WhitenCellsOf(*grid, CMSFlexGrid::kRed);
        // Whitening took the red rows' tooltips; their limits come back.
        for (const auto& [row, tip] : m_redGlobalRows) {
            if (row >= 1 && row < Grid(0).GetRows())
                Grid(0).SetCellToolTip(row, 1, GlobalLimitsTip(row));
        }
        m_redGlobalRows.clear();
        if (shown) {
            shown->show();
            shown->SetRedraw(true);
        }
    }

    int total = 0;
    for (int16_t count : m_nChangeCount)
        total += std::max<int>(count, 0);
    if (total == 0 || !BeginSendRecord())
        return;

    m_nSendExchanged = 0;
    m_nSendFaults = 0;
    CDlgReadWriteParams dialog(total, [this](int nGrid, int nEntry) { return OnSendEntry(nGrid, nEntry); }, this);
    // Only a send that reached its end keeps nothing waiting; after a stop or
    // a failure every entry goes again with the next send.
    const bool bDone = RunModal(dialog) == QDialog::Accepted;
    EndSendRecord();
    if (bDone)
        ClearChangeLists();
    NoteTransferEnd(dialog.GetJobResult(), true);
}

void CDarozozazWindowsDlg::DropUnsentChanges()
{
    for (CMSFlexGrid* grid : m_grid)
        WhitenCellsOf(*grid, CMSFlexGrid::kYellow);
    ClearChangeLists();
}

bool CDarozozazWindowsDlg::ChangedCell(int nGrid, const ChangeEntry& entry, SendItem& item, int& row, int& col)
{
    col = 1;
    switch (nGrid) {
    case 0:
        item.kind = SendItem::Kind::Global;
        row = entry.nFirst;
        item.index = static_cast<int16_t>(row);
        break;
    case 1:
        item.kind = SendItem::Kind::ZoneParam;
        row = entry.nSecond;
        col = entry.nFirst;
        item.index = static_cast<int16_t>(col);
        item.zone = static_cast<int16_t>(row);
        break;
    default:
        item.kind = SendItem::Kind::SetValue;
        row = entry.nSecond;
        item.zone = static_cast<int16_t>(row);
        break;
    }
    CMSFlexGrid& grid = Grid(nGrid);
    if (row < 1 || row >= grid.GetRows() || col < 1 || col >= grid.GetCols())
        return false;
    item.value = CellNumber(grid.GetTextMatrix(row, col));
    return true;
}

EntryResult CDarozozazWindowsDlg::OnSendEntry(int nGrid, int nEntry)
{
    if (nGrid == -1) {
        // The end of a send; nEntry carries the job's result.
        if (m_nCurrentView != -1) {
            Grid(m_nCurrentView).show();
            Grid(m_nCurrentView).SetRedraw(true);
        }
        // After a stop or a failure the cells keep what the user typed: it
        // is what the next send sends.
        if (static_cast<JobResult>(nEntry) == JobResult::Done) {
            for (int g = 0; g < 3; ++g)
                FillGrid(g, false, true);
            // The refill gives grid 0's value cells their plain colours back.
            CMSFlexGrid& globals = Grid(0);
            for (const auto& [row, tip] : m_redGlobalRows) {
                if (row >= 1 && row < globals.GetRows()) {
                    SetCellColour(globals, row, 1, CMSFlexGrid::kRed);
                    globals.SetCellToolTip(row, 1, tip);
                }
            }
        }
        return EntryResult::EndsList;
    }
    if (nGrid < 0 || nGrid > 2 || nEntry < 0 || nEntry >= kChangeListSize)
        return EntryResult::EndsList;

    if (m_nCurrentView != -1) {
        Grid(m_nCurrentView).SetRedraw(false);
        Grid(m_nCurrentView).hide();
    }

    const ChangeEntry entry = GetChange(nGrid, nEntry);
    if (entry.nFirst == -1 && entry.nSecond == -1)
        return EntryResult::EndsList;

    SendItem item;
    int row = 0;
    int col = 1;
    // An entry listed for another unit with more zones or parameters has
    // no cell here: it is passed over, and the send goes on.
    if (!ChangedCell(nGrid, entry, item, row, col))
        return EntryResult::Handled;
    CMSFlexGrid& grid = Grid(nGrid);
    SetCellColour(grid, row, col, CMSFlexGrid::kWhite);

    // No value reaches the unit without its line in the record.
    if (!RecordSending(item))
        return EntryResult::Stops;
    const SendOutcome outcome = SendOne(TheUnit(), item);
    const bool bRecorded = RecordSendOutcome(outcome);
    const bool bRefused = outcome.code == WriteResult::NotAcknowledged || outcome.code == WriteResult::Refused;
    ++m_nSendExchanged;
    if (outcome.bDiffers || bRefused) {
        ++m_nSendFaults;
        SetCellColour(grid, row, col, CMSFlexGrid::kRed);
        const std::string tip = RedCellTip(TheUnit(), outcome);
        grid.SetCellToolTip(row, col, tip);
        if (nGrid == 0) {
            auto listed = std::find_if(m_redGlobalRows.begin(), m_redGlobalRows.end(),
                                       [row](const auto& red) { return red.first == row; });
            if (listed == m_redGlobalRows.end())
                m_redGlobalRows.emplace_back(row, tip);
            else
                listed->second = tip;
        }
    }
    if (!bRecorded)
        return EntryResult::Stops;
    // Neither the write nor the read-back got an answer: the unit or the
    // line has gone.
    if (outcome.code == WriteResult::NotAcknowledged && outcome.readBack == -1)
        return EntryResult::NoAnswer;
    return EntryResult::Handled;
}
