// In-place editing of the grid cells and the change lists it fills.

#include <QLineEdit>
#include <charconv>
#include <cstdint>
#include <string>
#include <unordered_set>

#include "config/TextMemory.h"
#include "mainwindow/qt/DarozozazWindowsDlg.h"
#include "mainwindow/qt/MSFlexGrid.h"
#include "platform/SafeFormat.h"
#include "platform/qt/MessageBox.h"
#include "platform/qt/QtText.h"
#include "unit/Unit.h"
#include "workflows/Jobs.h"

namespace {

constexpr int kTextInvalidNumber = 30;
constexpr int kTextOutsideWidth = 78;
constexpr int kKeyDelete = 46;
constexpr int kKeyDigit0 = 48;
constexpr int kKeyDigit9 = 57;
constexpr int kKeyPad0 = 96;
constexpr int kKeyPad9 = 105;
constexpr int kSetValueCol = 1;
constexpr int kActualValueCol = 2;

// A recipe stores a zone value in six characters, so a value that needs
// more cannot be saved and read back.
constexpr int32_t kMinZoneValue = -99999;
constexpr int32_t kMaxZoneValue = 999999;

// Only the exact decimal form of a 32-bit integer: no blanks, no plus sign,
// no leading zeros, no minus zero, not empty.
bool ParseExactDecimal(const std::string& text, int32_t& value)
{
    const char* first = text.data();
    const char* last = first + text.size();
    int32_t parsed = 0;
    const auto [end, error] = std::from_chars(first, last, parsed);
    if (error != std::errc() || end != last || std::to_string(parsed) != text)
        return false;
    value = parsed;
    return true;
}

// Grid 0 shows -1 as "no value", and the zone grids are bounded by what a
// recipe can hold.
bool ValueFitsGrid(int nGrid, int32_t value)
{
    if (nGrid == 0)
        return value != -1;
    return value >= kMinZoneValue && value <= kMaxZoneValue;
}

// Header cells are never edited; in grid 2 only the set value column is.
bool IsEditableCell(CMSFlexGrid& grid, int nGrid, int row, int col)
{
    if (row < 1 || row >= grid.GetRows() || col < 1 || col >= grid.GetCols())
        return false;
    return nGrid != 2 || col == kSetValueCol;
}

uint64_t EntryKey(const ChangeEntry& entry)
{
    return (static_cast<uint64_t>(static_cast<uint32_t>(entry.nFirst)) << 32) |
           static_cast<uint32_t>(entry.nSecond);
}

}  // namespace

ValueRange UnitValueRange(CUnit& unit, int nGrid)
{
    // The zone commands of a unit with 100 zones or more carry hexadecimal
    // digits.
    const bool bHex = nGrid != 0 && unit.QueryZoneCount() >= 100;
    return ValueRangeOfWidth(unit.GetValueWidth(), bHex);
}

bool CDarozozazWindowsDlg::IsEditVisible() const { return m_editCell && !m_editCell->isHidden(); }

void CDarozozazWindowsDlg::HideCellEdit()
{
    // Hidden first: hiding moves the focus away, and the commit that the
    // focus loss runs must find the box hidden and drop the text.
    if (m_editCell)
        m_editCell->hide();
    m_nEditGrid = -1;
    m_nEditRow = -1;
    m_nEditCol = -1;
}

void CDarozozazWindowsDlg::StartCellEdit(const std::string& text, bool bFromClick)
{
    const int g = m_nCurrentView;
    if (g < 0 || g > 2 || !m_editCell)
        return;
    CMSFlexGrid& grid = Grid(g);
    const int row = grid.GetRow();
    const int col = grid.GetCol();
    if (!IsEditableCell(grid, g, row, col))
        return;

    // A box still open over another cell is taken over before it moves, as
    // the focus change of a click would; a value refused there keeps the box
    // where it is.
    if (IsEditVisible() && !CommitCellEdit())
        return;

    const int x = grid.GetCellLeft() / m_nTwipsPerPixelX + grid.x();
    const int y = grid.GetCellTop() / m_nTwipsPerPixelY + grid.y();
    const int width = grid.GetCellWidth() / m_nTwipsPerPixelX;
    const int height = grid.GetCellHeight() / m_nTwipsPerPixelY;

    m_nEditGrid = g;
    m_nEditRow = row;
    m_nEditCol = col;

    m_editCell->setGeometry(x, y, width, height);
    m_editCell->raise();
    m_strCellText = text;
    m_editCell->setText(Q(m_strCellText));
    // A typed digit goes on with the user's typing; a clicked value is
    // replaced by it.
    if (m_strCellText.size() == 1 && !bFromClick) {
        m_editCell->deselect();
        m_editCell->setCursorPosition(1);
    } else {
        m_editCell->selectAll();
    }
    m_editCell->show();
    m_editCell->setFocus(Qt::OtherFocusReason);
}

bool CDarozozazWindowsDlg::CommitCellEdit()
{
    if (!IsEditVisible())
        return true;
    ++m_nCommitRuns;
    const int g = m_nEditGrid;
    const int row = m_nEditRow;
    const int col = m_nEditCol;
    m_strCellText = S(m_editCell->text());

    // The box goes before any message: the box taking the focus would
    // otherwise run this again over the same text.
    HideCellEdit();

    if (g < 0 || g > 2)
        return true;
    CMSFlexGrid& grid = Grid(g);

    int32_t value = 0;
    if (!ParseExactDecimal(m_strCellText, value) || !ValueFitsGrid(g, value)) {
        ShowMessageBox(this, TheTextMemory().GetText(kTextInvalidNumber), TheTextMemory().GetText(0),
                       MsgIcon::Warning);
        return true;
    }
    CUnit& unit = TheUnit();
    if (!unit.IsOffline()) {
        // A value wider than the unit's field would reach it cut to its
        // first digits: refused here, and the typed text stays to correct.
        const ValueRange range = UnitValueRange(unit, g);
        if (!range.Contains(value)) {
            const std::string message = platform::SafeFormat(
                TheTextMemory().GetTextOr(kTextOutsideWidth,
                                          "The unit takes values from %d to %d.\nPlease enter a value in this range."),
                {static_cast<long long>(range.nMin), static_cast<long long>(range.nMax)});
            ShowMessageBox(this, message, TheTextMemory().GetText(0), MsgIcon::Warning);
            ReopenCellEdit(g, row, col, m_strCellText);
            return false;
        }
    }
    // The grid may have been rebuilt smaller while the box was open.
    if (!IsEditableCell(grid, g, row, col))
        return true;
    EnterCellValue(g, row, col, m_strCellText, value);
    return true;
}

bool CDarozozazWindowsDlg::EnterCellValue(int g, int row, int col, const std::string& text, int32_t value)
{
    CMSFlexGrid& grid = Grid(g);
    CUnit& unit = TheUnit();
    if (text == grid.GetTextMatrix(row, col))
        return true;

    if (unit.IsOffline()) {
        grid.SetTextMatrix(row, col, text);
        grid.FitColWidthToTexts(col);
        const auto r = static_cast<int16_t>(row);
        if (g == 0)
            unit.WriteGlobalParam(r, value);
        else if (g == 1)
            unit.WriteZoneParam(r, static_cast<int16_t>(col), value);
        else
            unit.WriteSetValue(r, value);
        return true;
    }
    int32_t first = 0;
    int32_t second = 0;
    if (g == 0) {
        first = row;
        second = 1;
    } else if (g == 1) {
        first = col;
        second = row;
    } else {
        first = 1;
        second = row;
    }
    // A yellow cell must be one the next send transmits, so a cell that
    // finds no room stays as it was.
    if (!ListChange(g, first, second, true)) {
        ShowMessageBox(this,
                       "The list of changes waiting to be sent is full.\n"
                       "Send the parameters before changing more values.",
                       TheTextMemory().GetText(0), MsgIcon::Warning);
        return false;
    }
    grid.SetTextMatrix(row, col, text);
    grid.FitColWidthToTexts(col);
    const int oldRow = grid.GetRow();
    const int oldCol = grid.GetCol();
    const int oldFill = grid.GetFillStyle();
    grid.SetFillStyle(0);
    grid.SetRow(row);
    grid.SetCol(col);
    grid.SetCellBackColor(CMSFlexGrid::kYellow);
    grid.SetRow(oldRow);
    grid.SetCol(oldCol);
    grid.SetFillStyle(oldFill);
    UpdateEditState();
    return true;
}

bool CDarozozazWindowsDlg::TakeValue(const SendItem& item)
{
    int g = 0, row = 0, col = 1;
    switch (item.kind) {
    case SendItem::Kind::Global: row = item.index; break;
    case SendItem::Kind::SetValue: g = 2; row = item.zone; break;
    case SendItem::Kind::ZoneParam: g = 1; row = item.zone; col = item.index; break;
    }
    CMSFlexGrid& grid = Grid(g);
    // A place this unit lacks, or a global it does not have (a hidden row).
    if (!IsEditableCell(grid, g, row, col) || (g == 0 && grid.GetRowHeight(row) == 0))
        return false;
    if (!ValueFitsGrid(g, item.value))
        return false;
    CUnit& unit = TheUnit();
    if (!unit.IsOffline() && !UnitValueRange(unit, g).Contains(item.value))
        return false;
    HideCellEdit();
    const bool bStored = EnterCellValue(g, row, col, std::to_string(item.value), item.value);
    UpdateEditState();
    return bStored;
}

void CDarozozazWindowsDlg::ReopenCellEdit(int nGrid, int nRow, int nCol, const std::string& text)
{
    if (nGrid != m_nCurrentView || !m_editCell)
        return;
    CMSFlexGrid& grid = Grid(nGrid);
    if (!IsEditableCell(grid, nGrid, nRow, nCol))
        return;
    m_nEditGrid = nGrid;
    m_nEditRow = nRow;
    m_nEditCol = nCol;
    m_strCellText = text;
    m_editCell->setText(Q(text));
    m_editCell->deselect();
    m_editCell->setCursorPosition(static_cast<int>(m_editCell->text().size()));
    m_editCell->show();
    m_editCell->setFocus(Qt::OtherFocusReason);
}

void CDarozozazWindowsDlg::OnDefaultButton()
{
    if (m_nCurrentView < 0 || m_nCurrentView > 2)
        return;
    const int commits = m_nCommitRuns;
    Grid(m_nCurrentView).setFocus(Qt::OtherFocusReason);
    // The focus change commits; a window that is not active gets no focus
    // events, and Enter must take the value over all the same, once.
    if (m_nCommitRuns == commits)
        CommitCellEdit();
    // A refused value keeps its box open over its cell; else on to the next
    // row, as in a spreadsheet.
    if (!IsEditVisible())
        MoveDownOneRow();
}

void CDarozozazWindowsDlg::OnClickGrid(int nGrid)
{
    if (nGrid != m_nCurrentView)
        return;
    CMSFlexGrid& grid = Grid(nGrid);
    // A click on an actual value edits the set value of the same zone.
    if (nGrid == 2 && grid.GetCol() == kActualValueCol)
        grid.SetCol(kSetValueCol);
    if (!IsEditableCell(grid, nGrid, grid.GetRow(), grid.GetCol()))
        return;
    StartCellEdit(grid.GetText(), true);
}

void CDarozozazWindowsDlg::OnScrollGrid(int nGrid)
{
    // The cell under the box has moved away; only the grid the box lies
    // over matters (a refill of a hidden grid may scroll it too).
    if (IsEditVisible() && nGrid == m_nEditGrid)
        HideCellEdit();
}

void CDarozozazWindowsDlg::OnKeyDownGrid(int nGrid, int keyCode)
{
    if (nGrid != m_nCurrentView)
        return;
    CMSFlexGrid& grid = Grid(nGrid);
    if (nGrid == 2 && grid.GetCol() == kActualValueCol)
        return;
    if (keyCode >= kKeyPad0 && keyCode <= kKeyPad9)
        keyCode -= kKeyPad0 - kKeyDigit0;
    if (keyCode < kKeyDigit0 || keyCode > kKeyDigit9)
        return;
    if (!IsEditableCell(grid, nGrid, grid.GetRow(), grid.GetCol()))
        return;
    StartCellEdit(std::string(1, static_cast<char>(keyCode)), false);
}

void CDarozozazWindowsDlg::OnKeyUpGrid(int nGrid, int keyCode)
{
    if (keyCode != kKeyDelete || nGrid < 0 || nGrid > 2)
        return;
    CMSFlexGrid& grid = Grid(nGrid);
    const int row = grid.GetRow();
    const int col = grid.GetCol();
    // Any data cell, the actual values included; never a header.
    if (row < 1 || row >= grid.GetRows() || col < 1 || col >= grid.GetCols())
        return;
    grid.SetText("0");
}

bool CDarozozazWindowsDlg::ListChange(int nGrid, int32_t nFirst, int32_t nSecond, bool bLookForEqual)
{
    if (nGrid < 0 || nGrid > 2 || static_cast<int>(m_aChanges.size()) <= nGrid)
        return false;
    // Two -1 mark a free slot and would end the list for every reader.
    if (nFirst == -1 && nSecond == -1)
        return false;
    auto& list = m_aChanges[static_cast<std::size_t>(nGrid)];
    int16_t& count = m_nChangeCount[static_cast<std::size_t>(nGrid)];

    if (bLookForEqual) {
        for (int j = 0; j < count; ++j) {
            if (list[static_cast<std::size_t>(j)].nFirst == nFirst &&
                list[static_cast<std::size_t>(j)].nSecond == nSecond)
                return true;
        }
    }

    if (count >= kChangeListSize) {
        // Only appends without looking (recipe loading) leave duplicates; a
        // send takes the value from the cell, so one entry per cell is enough.
        std::unordered_set<uint64_t> seen;
        int kept = 0;
        for (int j = 0; j < count; ++j) {
            const ChangeEntry entry = list[static_cast<std::size_t>(j)];
            if (seen.insert(EntryKey(entry)).second)
                list[static_cast<std::size_t>(kept++)] = entry;
        }
        for (int j = kept; j < count; ++j)
            list[static_cast<std::size_t>(j)] = ChangeEntry{};
        count = static_cast<int16_t>(kept);
        if (count >= kChangeListSize)
            return false;
    }

    list[static_cast<std::size_t>(count)] = ChangeEntry{nFirst, nSecond};
    ++count;
    return true;
}

int CDarozozazWindowsDlg::CountUnsentChanges() const
{
    // Recipe loading lists a cell again each time: cells count, not entries.
    int cells = 0;
    for (std::size_t g = 0; g < m_aChanges.size() && g < m_nChangeCount.size(); ++g) {
        std::unordered_set<uint64_t> seen;
        for (int j = 0; j < m_nChangeCount[g] && j < kChangeListSize; ++j)
            seen.insert(EntryKey(m_aChanges[g][static_cast<std::size_t>(j)]));
        cells += static_cast<int>(seen.size());
    }
    return cells;
}

void CDarozozazWindowsDlg::ClearChangeLists()
{
    m_aChanges.resize(3);
    for (auto& list : m_aChanges)
        list.fill(ChangeEntry{});
    m_nChangeCount.fill(0);
}
