// The main window's side of the bus scan: the Scan devices command, the scan
// dialog's run, the Devices menu's unit items and the pick of a unit.
#include <QAction>
#include <QDialog>
#include <QMenu>
#include <string>

#include "config/StatusTexts.h"
#include "config/TextMemory.h"
#include "mainwindow/qt/DarozozazWindowsDlg.h"
#include "mainwindow/qt/MSFlexGrid.h"
#include "platform/SafeFormat.h"
#include "platform/qt/MenuBar.h"
#include "platform/qt/MessageBox.h"
#include "platform/qt/ModalRun.h"
#include "unit/Unit.h"
#include "workflows/qt/DlgReadWriteParams.h"
#include "workflows/qt/DlgScanDevices.h"

namespace {

constexpr int kTextUnit = 57;
constexpr int kUnitItemBase = cmd::kFirstUnit - 1;  // 32999 + address
// The Devices menu ends with a separator and Scan devices.
constexpr int kFixedDeviceItems = 2;

bool IsBusAddress(int nAddress) { return nAddress >= 1 && nAddress <= CDlgScanDevices::kAddresses; }

}  // namespace

void CDarozozazWindowsDlg::OnScanDevices()
{
    // Cells typed but not yet sent stay as they are until the pick: only
    // another unit's pick puts the question whether to drop them.
    m_bScanKeptChanges = CountUnsentChanges() > 0 && !TheUnit().IsOffline();
    m_nAddressBeforeScan = TheUnit().GetAddress();
    m_nViewBeforeScan = m_nCurrentView;
    if (!m_bScanKeptChanges)
        ClearGridsForScan();
    ShowView(-1);
    // WM_USER+2, sent to the window itself.
    OnRunScanDialog();
}

void CDarozozazWindowsDlg::ClearGridsForScan()
{
    for (int g = 0; g < 3; ++g) {
        CMSFlexGrid& grid = Grid(g);
        grid.Clear();
        grid.SetRows(2);
        grid.SetCols(g == 2 ? 3 : 2);
    }
}

bool CDarozozazWindowsDlg::MayDropUnsentChanges(int nAddress)
{
    const int unsent = CountUnsentChanges();
    if (unsent == 0)
        return true;
    const std::string question = platform::SafeFormat(
        TheTextMemory().GetTextOr(text::kDropUnsentChanges,
                                  "Changes not yet sent to the unit: %d.\nThey are dropped when another unit is "
                                  "selected. Select unit %d anyway?"),
        {static_cast<long long>(unsent), static_cast<long long>(nAddress)});
    if (ShowMessageBox(this, question, TheTextMemory().GetText(0), MsgIcon::Question, MsgButtons::YesNo, true) !=
        kIdYes)
        return false;
    // A list names cells, not units: kept, it would send the next unit its
    // own values as if they had been typed.
    DropUnsentChanges();
    return true;
}

void CDarozozazWindowsDlg::OnRunScanDialog()
{
    {
        // The pick reaches the window while the dialog is destroyed.
        CDlgScanDevices dialog(
            [this](int nAddress, const std::string& type) { Guarded([&] { OnDevicesItem(nAddress, type); }); },
            [this](int nAddress) { Guarded([&] { OnUnitPicked(nAddress); }); }, this);
        RunModal(dialog);
    }
    // A scan that could not open the port ends offline; a unit picked was
    // received meanwhile and has told its own outcome.
    if (!TheUnit().GetComPort().GetLastError().empty())
        m_lastJob = JobStatus{JobStatus::Kind::PortFailed};
    UpdateStatusBar();
}

void CDarozozazWindowsDlg::OnDevicesItem(int nAddress, const std::string& type)
{
    QMenu* devices = m_menu->Menu(menupos::kDevices);
    if (!devices)
        return;
    if (nAddress == 0) {
        while (devices->actions().size() > kFixedDeviceItems) {
            QAction* item = devices->actions().front();
            devices->removeAction(item);
            item->deleteLater();
        }
        return;
    }
    if (!IsBusAddress(nAddress))
        return;
    const std::string text = platform::SafeFormat(
        "%s %02d\t%s", {TheTextMemory().GetText(kTextUnit), static_cast<long long>(nAddress), type});
    // One item per address, whatever reported it twice.
    const int id = kUnitItemBase + nAddress;
    m_menu->Remove(id);
    const int position = static_cast<int>(devices->actions().size()) - kFixedDeviceItems;
    m_menu->InsertItem(devices, position < 0 ? 0 : position, id, text);
}

void CDarozozazWindowsDlg::OnUnitPicked(int nAddress)
{
    if (m_bScanKeptChanges) {
        m_bScanKeptChanges = false;
        if (IsBusAddress(nAddress) && nAddress != m_nAddressBeforeScan && !MayDropUnsentChanges(nAddress)) {
            KeepUnitOfBeforeScan();
            return;
        }
        ClearGridsForScan();
    }
    if (!IsBusAddress(nAddress)) {
        UpdateMenus(false);
        m_menu->Enable(cmd::kFileOpen, true);
        TheUnit().SetOffline(true);
        return;
    }
    // The recipe that was open belongs to the data about to be replaced.
    UpdateTitle(false);
    m_menu->Enable(cmd::kFileSave, false);
    SelectAndReceive(nAddress);
}

void CDarozozazWindowsDlg::SelectAndReceive(int nAddress)
{
    CUnit& unit = TheUnit();
    for (int a = 1; a <= CDlgScanDevices::kAddresses; ++a) {
        if (m_menu->IsChecked(kUnitItemBase + a))
            m_menu->Check(kUnitItemBase + a, false);
    }
    unit.SetAddress(static_cast<int16_t>(nAddress));
    unit.SetOffline(false);
    if (FillGrid(0, true, true))
        ShowReceivedUnit();
    else
        ShowView(-1);
    m_menu->Check(kUnitItemBase + nAddress, true);
}

void CDarozozazWindowsDlg::KeepUnitOfBeforeScan()
{
    CUnit& unit = TheUnit();
    unit.SetAddress(static_cast<int16_t>(m_nAddressBeforeScan));
    unit.SetOffline(false);
    // The scan has polled the whole bus: the record learns this unit again
    // (its identification, its value width) while the grids keep what was
    // typed and what the unit held when it was received.
    CDlgReadWriteParams receive(0, this);
    if (RunModal(receive) == QDialog::Accepted)
        NoteReceivedValues();
    NoteTransferEnd(receive.GetJobResult(), false);
    UpdateMenus(true);
    m_menu->Check(kUnitItemBase + m_nAddressBeforeScan, true);
    ShowView(m_nViewBeforeScan == -1 ? 2 : m_nViewBeforeScan);
}

void CDarozozazWindowsDlg::ShowReceivedUnit()
{
    FillGrid(1, false, true);
    FillGrid(2, false, true);
    ShowView(2);
}

void CDarozozazWindowsDlg::OnSelectUnit(int nAddress)
{
    if (!IsBusAddress(nAddress))
        return;
    CUnit& unit = TheUnit();
    if (nAddress != unit.GetAddress() && !MayDropUnsentChanges(nAddress))
        return;
    UpdateTitle(false);
    m_menu->Enable(cmd::kFileSave, false);

    m_menu->Check(kUnitItemBase + unit.GetAddress(), false);
    unit.SetAddress(static_cast<int16_t>(nAddress));
    // Items stay in the menu when a later scan could not open the port and
    // left the record offline; a unit chosen from them is a selected unit,
    // or its edits would never be listed for sending.
    if (unit.IsOffline())
        unit.SetOffline(false);
    if (FillGrid(0, true, true))
        ShowReceivedUnit();
    else
        ShowView(-1);
    m_menu->Check(kUnitItemBase + nAddress, true);
}
