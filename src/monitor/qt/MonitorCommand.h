#pragma once

#include <memory>

class CDarozozazWindowsDlg;
class CMonitorHistory;

// The trend of every unit watched since the program started: the monitor
// dialog fills it and reads it, and closing the dialog does not lose it.
std::shared_ptr<CMonitorHistory> TheMonitorHistory();

// Communication > Monitor: watches the selected unit in the monitor dialog,
// on the window's line settings, with the other units of the Devices menu
// ready to be added. Does nothing without a selected unit (offline).
void RunMonitorDialog(CDarozozazWindowsDlg& window);
