#pragma once

// The language texts of the live view, by number, with their English
// wording built in for language files that do not have them yet.
namespace monitortext {

struct Text
{
    int n;
    const char* english;
};

inline constexpr Text kMenuMonitor{122, "&Monitor..."};
inline constexpr Text kTitle{123, "Monitor: unit %d %s"};
inline constexpr Text kInterval{124, "Interval:"};
inline constexpr Text kAsFastAsPossible{125, "as fast as the line allows"};
inline constexpr Text kSeconds{126, "%s s"};
inline constexpr Text kPause{127, "&Pause"};
inline constexpr Text kResume{128, "&Resume"};
inline constexpr Text kRecord{129, "Re&cord..."};
inline constexpr Text kStopRecording{130, "&Stop recording"};
inline constexpr Text kNotRecording{131, "Not recording"};
inline constexpr Text kRecordingTo{132, "Recording to %s (%d lines)"};
inline constexpr Text kRecordingStopped{133, "The recording stopped: %s\nThe file holds the lines written until then."};
inline constexpr Text kRecordingFailed{134, "The recording cannot be started: %s"};
inline constexpr Text kCsvFilter{135, "CSV files (*.csv)|*.csv||"};
inline constexpr Text kTolerance{136, "Tolerance \u00b1"};
inline constexpr Text kFollow{137, "&Follow the newest values"};
inline constexpr Text kWatchAll{138, "Watch &all found units"};
inline constexpr Text kZone{139, "Zone"};
inline constexpr Text kSet{140, "Set"};
inline constexpr Text kActual{141, "Actual"};
inline constexpr Text kDifference{142, "Difference"};
inline constexpr Text kUnitTab{143, "Unit %d"};
inline constexpr Text kStatistics{144,
    "Unit %d: polls %d, answered %d, retried %d, no answer %d, late answers discarded %d; cycle %s ms, mean %s ms"};
inline constexpr Text kDeviceGone{145, "Device gone (%s): trying again every 2 s."};
inline constexpr Text kWaiting{146, "Waiting for the first values..."};
inline constexpr Text kPortFailed{147, "The port cannot be opened for the monitor:\n%s"};
inline constexpr Text kStopping{148, "Stopping..."};
inline constexpr Text kNoAnswer{149, "no answer"};
inline constexpr Text kPaused{150, "Paused."};
inline constexpr Text kOutOfTolerance{151, "The actual value lies outside set \u00b1 %d."};
inline constexpr Text kChartHint{152, "Solid: actual values; dashed: set values. Tick zones in the table to chart them. Wheel: zoom; drag: scroll."};
inline constexpr Text kCycles{153, "Cycle %d"};

inline constexpr Text kTitleLine{157, "Monitor \u2013 %s"};
inline constexpr Text kOverviewUnit{158, "Unit"};
inline constexpr Text kOverviewState{159, "State"};
inline constexpr Text kOverviewCycle{160, "Cycle ms"};
inline constexpr Text kOverviewMean{161, "Mean ms"};
inline constexpr Text kOverviewPolls{162, "Polls"};
inline constexpr Text kOverviewAnswered{163, "Answered"};
inline constexpr Text kOverviewRetried{164, "Retried"};
inline constexpr Text kOverviewNoAnswer{165, "No answer"};
inline constexpr Text kOverviewLate{166, "Late answers discarded"};
inline constexpr Text kAnswering{167, "answering"};
inline constexpr Text kNoAnswerOneCycle{168, "no answer since %s (1 cycle)"};
inline constexpr Text kNoAnswerCycles{169, "no answer since %s (%d cycles)"};
inline constexpr Text kNotYetAnswered{170, "waiting for the first answer"};
inline constexpr Text kDeviceGoneShort{171, "device gone"};
inline constexpr Text kFarOutOfTolerance{172, "The actual value lies outside set \u00b1 %d, more than twice the tolerance."};
inline constexpr Text kRecordingClock{173, "\u25cf Recording %s"};
inline constexpr Text kRecordingPausedClock{174, "\u25cf Recording paused at %s"};
inline constexpr Text kRecordedTo{175, "Recorded %d lines to %s"};
inline constexpr Text kPausedBadge{176, "\u275a\u275a Paused: no values are taken"};
inline constexpr Text kFit{177, "Fi&t"};
inline constexpr Text kChartHelp{178, "Shows every value, first to last (also: double-click the chart). Wheel: zoom time, over the value axis: zoom values. Drag: scroll. Right button or Ctrl+drag: zoom into a box."};
inline constexpr Text kRemoveUnit{179, "Stop &watching this unit"};
inline constexpr Text kRecordingLine{180, "Recording to %s (%d lines)"};

// Every one of them, by number.
inline constexpr Text kAll[] = {
    kMenuMonitor, kTitle, kInterval, kAsFastAsPossible, kSeconds, kPause, kResume, kRecord, kStopRecording, kNotRecording, kRecordingTo, kRecordingStopped, kRecordingFailed, kCsvFilter, kTolerance, kFollow, kWatchAll, kZone, kSet, kActual, kDifference, kUnitTab, kStatistics, kDeviceGone, kWaiting, kPortFailed, kStopping, kNoAnswer, kPaused, kOutOfTolerance, kChartHint, kCycles,
};
// The overview, the chart's view and the recording's clock, numbered on
// from 157.
inline constexpr Text kAllFrom157[] = {
    kTitleLine, kOverviewUnit, kOverviewState, kOverviewCycle, kOverviewMean, kOverviewPolls, kOverviewAnswered,
    kOverviewRetried, kOverviewNoAnswer, kOverviewLate, kAnswering, kNoAnswerOneCycle, kNoAnswerCycles,
    kNotYetAnswered, kDeviceGoneShort, kFarOutOfTolerance, kRecordingClock, kRecordingPausedClock, kRecordedTo,
    kPausedBadge, kFit, kChartHelp, kRemoveUnit, kRecordingLine,
};

}  // namespace monitortext
