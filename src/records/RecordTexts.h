#pragma once

// The language-file numbers of the texts the records, the comparison and the
// export show in the window. Every one is looked up with an English fallback,
// so a language file from before these texts still works.
namespace records::text {

constexpr int kMenuChangeHistory = 105;   // Communication: "Change &history..."
constexpr int kMenuCompare = 106;         // File: "Co&mpare with recipe..."
constexpr int kMenuExportCsv = 107;       // File: "&Export as CSV..."
constexpr int kAskSendUnrecorded = 108;   // %s path, %s reason
constexpr int kRecordWriteFailed = 109;   // %s path, %s reason
constexpr int kHistoryTitle = 110;        // %d AZ number
constexpr int kFilter = 111;
constexpr int kHistoryCount = 112;        // %d shown, %d of this unit
constexpr int kHistoryUnreadable = 113;   // %s path, %s reason
constexpr int kCompareTitle = 114;        // %s recipe file name
constexpr int kCompareWhere = 115;
constexpr int kCompareWindow = 116;
constexpr int kCompareRecipe = 117;
constexpr int kCompareNone = 118;
constexpr int kCompareCount = 119;        // %d differences
constexpr int kCsvFiles = 120;
constexpr int kCsvNotWritten = 121;       // %s path
constexpr int kNothingHeld = 122;

}  // namespace records::text
