#pragma once

// The language-file numbers of the texts the records, the comparison and the
// export show in the window. Every one is looked up with an English fallback,
// so a language file from before these texts still works.
namespace records::text {

constexpr int kMenuChangeHistory = 104;   // Communication: "Change &history..."
constexpr int kMenuCompare = 105;         // File: "Co&mpare with recipe..."
constexpr int kMenuExportCsv = 106;       // File: "&Export as CSV..."
constexpr int kAskSendUnrecorded = 107;   // %s path, %s reason
constexpr int kRecordWriteFailed = 108;   // %s path, %s reason
constexpr int kHistoryTitle = 109;        // %d AZ number
constexpr int kFilter = 110;
constexpr int kHistoryCount = 111;        // %d shown, %d of this unit
constexpr int kHistoryUnreadable = 112;   // %s path, %s reason
constexpr int kCompareTitle = 113;        // %s recipe file name
constexpr int kCompareWhere = 114;
constexpr int kCompareWindow = 115;
constexpr int kCompareRecipe = 116;
constexpr int kCompareNone = 117;
constexpr int kCompareCount = 118;        // %d differences
constexpr int kCsvFiles = 119;
constexpr int kCsvNotWritten = 120;       // %s path
constexpr int kNothingHeld = 121;
constexpr int kSendStoppedByRecord = 156;  // %s path, %s reason

}  // namespace records::text
