#pragma once

class CDarozozazWindowsDlg;

// Communication > Monitor: watches the selected unit in the monitor dialog,
// on the window's line settings, with the other units of the Devices menu
// ready to be added. Does nothing without a selected unit (offline).
void RunMonitorDialog(CDarozozazWindowsDlg& window);
