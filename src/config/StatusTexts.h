#pragma once

// Language texts of the main window's status bar and of recipe loading, by
// number. Each is fetched with an English fallback, so that a language file
// from before these numbers still works.
namespace text {

// "Unit %d: %s, AZ number %d, %d zones, firmware %d": address, type name,
// AZ number, zone count, firmware version.
constexpr int kStatusUnit = 93;
constexpr int kStatusNoUnit = 94;        // no unit selected
constexpr int kStatusPort = 95;          // "COM%d: %s at %d baud"
constexpr int kStatusPortNoDevice = 96;  // "COM%d: no device"
constexpr int kStatusReceived = 97;      // "Received at %s", the local time
constexpr int kStatusSent = 98;          // "%d values sent"
constexpr int kStatusSentFaults = 99;    // "%d values sent, %d of them refused or differing"
constexpr int kStatusCommError = 100;
constexpr int kStatusPortFailed = 101;
constexpr int kStatusStopped = 102;
constexpr int kStatusUnitAddress = 103;  // "Unit %d": selected, nothing received yet
// How many values of a recipe the selected unit cannot take, and the first
// of them: "%d ... %s".
constexpr int kRecipeTooWide = 104;

}  // namespace text
