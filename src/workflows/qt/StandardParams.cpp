// Load standard parameters: the unit replaces its parameters by its built-in
// set, restarts, and is received again.

#include <string>

#include "config/TextMemory.h"
#include "mainwindow/qt/DarozozazWindowsDlg.h"
#include "platform/SafeFormat.h"
#include "platform/qt/MenuBar.h"
#include "platform/qt/MessageBox.h"
#include "platform/qt/ModalRun.h"
#include "unit/Unit.h"
#include "workflows/qt/DlgReadWriteParams.h"

namespace {

constexpr int kTextConfirm = 27;
constexpr int kTextAddressOneTaken = 28;
constexpr int kTextUnit = 57;
constexpr int kUnitItemBase = cmd::kFirstUnit - 1;
// Units of this family come back at address 1 after loading their standard set.
constexpr const char* kMovesToAddressOne = "TORVA";

// Sends "XSTD=" with the link open only for the one telegram.
bool SendLoadStandard(CUnit& unit)
{
    unit.OpenPort();
    const bool bAcknowledged = unit.LoadStandardParams();
    unit.ClosePort();
    return bAcknowledged;
}

}  // namespace

void CDarozozazWindowsDlg::WaitForUnit()
{
    // The polls run on a worker behind the progress dialog, so the window
    // goes on painting and Cancel is taken; however the wait ends, the unit
    // is received next.
    CDlgReadWriteParams dialog(CDlgReadWriteParams::WaitForUnitJob{}, this);
    RunModal(dialog);
}

void CDarozozazWindowsDlg::OnLoadStandardParams()
{
    const CTextMemory& texts = TheTextMemory();
    if (ShowMessageBox(this, texts.GetText(kTextConfirm), texts.GetText(0), MsgIcon::Question, MsgButtons::YesNo,
                       true) != kIdYes)
        return;

    CUnit& unit = TheUnit();
    const std::string type = unit.QueryType();
    const int address = unit.GetAddress();

    if (type.find(kMovesToAddressOne) == std::string::npos) {
        SendLoadStandard(unit);
        WaitForUnit();
        SelectAndReceive(address);
        return;
    }

    if (address != 1 && m_menu->Find(cmd::kFirstUnit)) {
        ShowMessageBox(this, texts.GetText(kTextAddressOneTaken), texts.GetText(0), MsgIcon::Warning);
        return;
    }

    if (!SendLoadStandard(unit)) {
        // Nothing was taken (refused, or no port): the unit stays where it
        // is, and so does its menu item.
        WaitForUnit();
        SelectAndReceive(address);
        return;
    }

    m_menu->Remove(kUnitItemBase + address);
    const std::string item = platform::SafeFormat("%s %02d\t%s", {texts.GetText(kTextUnit), 1LL, type});
    m_menu->InsertItem(m_menu->Menu(menupos::kDevices), 0, cmd::kFirstUnit, item);
    // The record still holds the old address, and that is where the unit is
    // polled until it answers again.
    WaitForUnit();
    SelectAndReceive(1);
}
