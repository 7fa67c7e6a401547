// The three grids built from the unit record.
#include <climits>
#include <cstdio>

#include "config/TextMemory.h"
#include "mainwindow/qt/DarozozazWindowsDlg.h"
#include "mainwindow/qt/MSFlexGrid.h"
#include "platform/SafeFormat.h"
#include "platform/qt/ModalRun.h"
#include "unit/Unit.h"
#include "workflows/qt/DlgReadWriteParams.h"

namespace {

// "%s %02d" of a label and a number; the label comes from a language file
// and is only ever an argument here.
std::string Numbered(const std::string& label, int n)
{
    char number[16];
    std::snprintf(number, sizeof number, " %02d", n);
    return label + number;
}

}  // namespace

std::string CDarozozazWindowsDlg::GlobalLimitsTip(int nRow) const
{
    const CUnit& unit = TheUnit();
    return platform::SafeFormat(TheTextMemory().GetTextOr(86, "Limits: %d to %d"),
                                {static_cast<long long>(unit.GetParamMin(nRow)),
                                 static_cast<long long>(unit.GetParamMax(nRow))});
}

bool CDarozozazWindowsDlg::FillGrid(int nGrid, bool bReceive, bool bUpdateMenus)
{
    CMSFlexGrid& grid = Grid(nGrid);
    CTextMemory& texts = TheTextMemory();
    CUnit& unit = TheUnit();

    grid.SetRedraw(false);
    grid.hide();

    if (bReceive) {
        CDlgReadWriteParams dialog(0, this);
        const bool bReceived = RunModal(dialog) == QDialog::Accepted;
        NoteTransferEnd(dialog.GetJobResult(), false);
        if (!bReceived) {
            grid.Clear();
            grid.SetRows(2);
            grid.SetCols(nGrid == 2 ? 3 : 2);
            if (bUpdateMenus)
                UpdateMenus(false);
            grid.SetRedraw(true);
            return false;
        }
        NoteReceivedValues();
    }
    if (bUpdateMenus)
        UpdateMenus(true);

    int lastCol = 1;
    int lastRow = unit.GetGlobalParamCount();
    if (nGrid == 1) {
        lastCol = unit.QueryZoneParamCount();
        lastRow = unit.QueryZoneCount();
    } else if (nGrid == 2) {
        lastCol = 2;
        lastRow = unit.QueryZoneCount();
    }

    // All texts first: a missing one ends the fill before the grid changes.
    const std::string zoneLabel = nGrid == 0 ? std::string() : texts.GetText(49);
    const std::string paramLabel = nGrid == 1 ? texts.GetText(50) : std::string();
    const std::string valueHeader = nGrid == 0 ? texts.GetText(51) : std::string();
    const std::string noValue = nGrid == 0 ? texts.GetText(56) : std::string();
    const std::string setHeader = nGrid == 2 ? texts.GetText(52) : std::string();
    const std::string actualHeader = nGrid == 2 ? texts.GetText(53) : std::string();

    grid.SetCols(lastCol + 1);
    grid.SetRows(lastRow + 1);
    grid.SetRowHeightMin(280);
    grid.SetFillStyle(0);

    for (int col = 0; col <= lastCol; ++col) {
        for (int row = 0; row <= lastRow; ++row) {
            if (col > 0 && row == 0)
                grid.SetColWidth(col, 600);
            if (col == 0)
                grid.SetColWidth(0, nGrid == 0 ? 2800 : 800);

            std::string text;
            if (row == 0 && col == 0) {
                text.clear();
            } else if (nGrid == 0) {
                if (row == 0) {
                    text = valueHeader;
                } else if (col == 0) {
                    unit.GetParamDescription(row, text);
                } else {
                    const int32_t value = unit.ReadGlobalParam(static_cast<int16_t>(row));
                    if (value == -1) {
                        // A parameter the unit does not have is hidden.
                        grid.SetRowHeight(row, 0);
                        text = noValue;
                    } else {
                        grid.SetRowHeight(row, 300);
                        grid.SetRow(row);
                        grid.SetCol(1);
                        grid.SetCellBackColor(unit.GetParamMin(row) == unit.GetParamMax(row) ? CMSFlexGrid::kSilver
                                                                                               : CMSFlexGrid::kWhite);
                        // What the unit takes here, over the value and its name.
                        const std::string limits = GlobalLimitsTip(row);
                        grid.SetCellToolTip(row, 0, limits);
                        grid.SetCellToolTip(row, 1, limits);
                        text = std::to_string(value);
                    }
                }
            } else if (row == 0) {
                text = nGrid == 1 ? Numbered(paramLabel, col) : (col == 1 ? setHeader : actualHeader);
            } else if (col == 0) {
                text = Numbered(zoneLabel, row);
            } else if (nGrid == 1) {
                text = std::to_string(unit.ReadZoneParam(static_cast<int16_t>(row), static_cast<int16_t>(col)));
            } else {
                const int16_t zone = static_cast<int16_t>(row);
                text = std::to_string(col == 1 ? unit.ReadSetValue(zone) : unit.ReadActualValue(zone));
            }
            grid.SetTextMatrix(row, col, text);
        }
    }
    grid.SetTextArray(0, "");
    // The widths set above are minimums: a column as wide as its widest
    // text, measured once now rather than by the header on every cell.
    for (int col = 0; col <= lastCol; ++col)
        grid.FitColWidthToTexts(col);

    if (nGrid == m_nCurrentView)
        grid.show();
    grid.SetRedraw(true);
    return true;
}
