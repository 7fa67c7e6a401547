#pragma once

// The language texts of the live view, by number, with their English
// wording built in for language files that do not have them yet.
namespace monitortext {

struct Text
{
    int n;
    const char* english;
};

inline constexpr Text kMenuMonitor{125, "&Monitor..."};
inline constexpr Text kTitle{126, "Monitor: unit %d %s"};
inline constexpr Text kInterval{127, "Interval:"};
inline constexpr Text kAsFastAsPossible{128, "as fast as the line allows"};
inline constexpr Text kSeconds{129, "%s s"};
inline constexpr Text kPause{130, "&Pause"};
inline constexpr Text kResume{131, "&Resume"};
inline constexpr Text kRecord{132, "Re&cord..."};
inline constexpr Text kStopRecording{133, "&Stop recording"};
inline constexpr Text kNotRecording{134, "Not recording"};
inline constexpr Text kRecordingTo{135, "Recording to %s (%d lines)"};
inline constexpr Text kRecordingStopped{136, "The recording stopped: %s\nThe file holds the lines written until then."};
inline constexpr Text kRecordingFailed{137, "The recording cannot be started: %s"};
inline constexpr Text kCsvFilter{138, "CSV files (*.csv)|*.csv||"};
inline constexpr Text kTolerance{139, "Tolerance \u00b1"};
inline constexpr Text kFollow{140, "&Follow the newest values"};
inline constexpr Text kWatchAll{141, "Watch &all found units"};
inline constexpr Text kZone{142, "Zone"};
inline constexpr Text kSet{143, "Set"};
inline constexpr Text kActual{144, "Actual"};
inline constexpr Text kDifference{145, "Difference"};
inline constexpr Text kUnitTab{146, "Unit %d"};
inline constexpr Text kStatistics{147,
    "Unit %d: polls %d, answered %d, retried %d, no answer %d, late answers discarded %d; cycle %s ms, mean %s ms"};
inline constexpr Text kDeviceGone{148, "Device gone (%s): trying again every 2 s."};
inline constexpr Text kWaiting{149, "Waiting for the first values..."};
inline constexpr Text kPortFailed{150, "The port cannot be opened for the monitor:\n%s"};
inline constexpr Text kStopping{151, "Stopping..."};
inline constexpr Text kNoAnswer{152, "no answer"};
inline constexpr Text kPaused{153, "Paused."};
inline constexpr Text kOutOfTolerance{154, "The actual value lies outside set \u00b1 %d."};
inline constexpr Text kChartHint{155, "Solid: actual values; dashed: set values. Tick zones in the table to chart them. Wheel: zoom; drag: scroll."};
inline constexpr Text kCycles{156, "Cycle %d"};

// Every one of them, by number.
inline constexpr Text kAll[] = {
    kMenuMonitor, kTitle, kInterval, kAsFastAsPossible, kSeconds, kPause, kResume, kRecord, kStopRecording, kNotRecording, kRecordingTo, kRecordingStopped, kRecordingFailed, kCsvFilter, kTolerance, kFollow, kWatchAll, kZone, kSet, kActual, kDifference, kUnitTab, kStatistics, kDeviceGone, kWaiting, kPortFailed, kStopping, kNoAnswer, kPaused, kOutOfTolerance, kChartHint, kCycles,
};

}  // namespace monitortext
