#pragma once

// Language texts of the main window's status bar and of recipe loading, by
// number. Each is fetched with an English fallback, so that a language file
// from before these numbers still works.
namespace text {

// "Unit %d: %s, AZ number %d, %d zones, firmware %d": address, type name,
// AZ number, zone count, firmware version.
constexpr int kStatusUnit = 92;
constexpr int kStatusNoUnit = 93;        // no unit selected
constexpr int kStatusPort = 94;          // "COM%d: %s at %d baud"
constexpr int kStatusPortNoDevice = 95;  // "COM%d: no device"
constexpr int kStatusReceived = 96;      // "Received at %s", the local time
constexpr int kStatusSent = 97;          // "%d values sent"
constexpr int kStatusSentFaults = 98;    // "%d values sent, %d of them refused or differing"
constexpr int kStatusCommError = 99;
constexpr int kStatusPortFailed = 100;
constexpr int kStatusStopped = 101;
constexpr int kStatusUnitAddress = 102;  // "Unit %d": selected, nothing received yet
// How many values of a recipe the selected unit cannot take, and the first
// of them: "%d ... %s".
constexpr int kRecipeTooWide = 103;
// Asked before another unit is selected while changes wait to be sent: "%d
// ... %d", the cells not yet sent and the address about to be selected.
constexpr int kDropUnsentChanges = 154;
// A job whose unit answered from another address: "%d", the address; the
// text names [COM_PORT] CheckAnswerAddress=0, which turns the check off.
constexpr int kOtherAddressAnswers = 155;
constexpr const char* kOtherAddressAnswersEnglish =
    "The unit at address %d answered with another address. If its answers carry something else there, "
    "CheckAnswerAddress=0 in the [COM_PORT] section of CONFIG.INI turns this check off.";

}  // namespace text
