#pragma once

// Message numbers that are part of the dialogs' contracts. Where a sender
// must wait until a message is handled (a sent message) the code calls the
// handler through a blocking queued invocation; a posted message is a queued
// invocation.
constexpr int kWmUser = 0x400;
constexpr int kMsgInterfaceChosen = kWmUser + 1;  // interface dialog -> main window
constexpr int kMsgRunScan = kWmUser + 2;          // main window -> itself
constexpr int kMsgUnitPicked = kWmUser + 3;       // scan dialog destroyed -> main window
constexpr int kMsgDevicesItem = kWmUser + 4;      // scan dialog -> main window
constexpr int kMsgSendEntry = kWmUser + 5;        // send worker / progress dialog -> main window

constexpr int kMsgScanFinished = 0x464;  // worker -> scan dialog, posted
constexpr int kMsgScanPolling = 0x465;   // worker -> scan dialog, sent
constexpr int kMsgScanFound = 0x466;     // worker -> scan dialog, sent

constexpr int kMsgTransferFinished = 0x4C8;  // worker -> progress dialog, posted
constexpr int kMsgTransferRange = 0x4CA;     // worker -> progress dialog, sent
constexpr int kMsgTransferStep = 0x4CB;      // worker -> progress dialog, sent
