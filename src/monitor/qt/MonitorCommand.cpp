#include "monitor/qt/MonitorCommand.h"

#include <QAction>
#include <QMenu>

#include "mainwindow/qt/DarozozazWindowsDlg.h"
#include "monitor/qt/DlgMonitor.h"
#include "platform/qt/MenuBar.h"
#include "platform/qt/ModalRun.h"
#include "unit/Unit.h"

std::shared_ptr<CMonitorHistory> TheMonitorHistory()
{
    static const std::shared_ptr<CMonitorHistory> history = std::make_shared<CMonitorHistory>();
    return history;
}

void RunMonitorDialog(CDarozozazWindowsDlg& window)
{
    CUnit& unit = TheUnit();
    if (unit.IsOffline() || unit.GetAddress() < 1)
        return;
    // The monitor talks on a unit record of its own: the window's only
    // lends its line settings and what it knows of the units.
    MonitorUnit selected;
    selected.nAddress = unit.GetAddress();
    // With the link closed these read what the last receive stored: 0 after
    // a failed one, which the job then learns from the unit.
    selected.nZoneCount = unit.QueryZoneCount();
    selected.nValueWidth = selected.nZoneCount > 0 ? unit.GetValueWidth() : 0;

    std::vector<MonitorUnit> others;
    if (QMenu* devices = window.Menu().Menu(menupos::kDevices)) {
        for (QAction* item : devices->actions()) {
            const int id = CMenuBar::IdOf(item);
            if (id >= cmd::kFirstUnit && id <= cmd::kLastUnit && id - (cmd::kFirstUnit - 1) != selected.nAddress) {
                MonitorUnit other;
                other.nAddress = static_cast<int16_t>(id - (cmd::kFirstUnit - 1));
                others.push_back(other);
            }
        }
    }
    CDlgMonitor dialog(MonitorLineOf(unit), selected, std::move(others), unit.QueryType(), &window,
                       TheMonitorHistory());
    // The main grid's actual values follow the monitor's while it runs.
    QObject::connect(&dialog, &CDlgMonitor::LiveActualValues, &window,
                     [&window](int address, const std::vector<int32_t>& actual) {
                         window.OnMonitorActualValues(address, actual);
                     });
    RunModal(dialog);
}
