// Load standard parameters: the unit replaces its parameters by its built-in
// set, restarts, and is received again.

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "config/TextMemory.h"
#include "mainwindow/DarozozazWindowsDlg.h"
#include "platform/SafeFormat.h"
#include "platform/qt/MenuBar.h"
#include "platform/qt/MessageBox.h"
#include "unit/Unit.h"

namespace {

constexpr int kTextConfirm = 27;
constexpr int kTextAddressOneTaken = 28;
constexpr int kTextUnit = 57;
constexpr int kUnitItemBase = cmd::kFirstUnit - 1;
// Units of this family come back at address 1 after loading their standard set.
constexpr const char* kMovesToAddressOne = "TORVA";

// The wait cursor for as long as the scope runs, however it is left.
class WaitCursor
{
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

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
    CUnit& unit = TheUnit();
    // A failed poll costs three read time-outs and the pause, so this bounds
    // the wait to about a minute.
    const int timeout = std::max<int>(unit.GetTimeout(), 0);
    const int limit = 60000 / (3 * timeout + 100);

    struct PortCloser
    {
        CUnit& unit;
        ~PortCloser() { unit.ClosePort(); }
    } closer{unit};
    // Without a port the record answers from its memory at once, which ends
    // the wait; the receive that follows reports the port.
    unit.OpenPort();
    int polls = 0;
    while (true) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ++polls;
        if (unit.QueryAZNumber() != -1 || polls >= limit)
            break;
    }
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
        {
            WaitCursor cursor;
            WaitForUnit();
        }
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
        {
            WaitCursor cursor;
            WaitForUnit();
        }
        SelectAndReceive(address);
        return;
    }

    {
        WaitCursor cursor;
        m_menu->Remove(kUnitItemBase + address);
        const std::string item =
            platform::SafeFormat("%s %02d\t%s", {texts.GetText(kTextUnit), 1LL, type});
        m_menu->InsertItem(m_menu->Menu(menupos::kDevices), 0, cmd::kFirstUnit, item);
        // The record still holds the old address, and that is where the
        // unit is polled until it answers again.
        WaitForUnit();
    }
    SelectAndReceive(1);
}
