#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

// Comma-separated text as RFC 4180 has it, for files that spreadsheets and
// scripts open without options: the live-value recording, the change record
// and the recipe export all write through here, and the record's readers read
// through here.
namespace platform {

// One field: as it stands, or in double quotes (inner quotes doubled) when it
// holds a comma, a quote, a CR or an LF, or begins or ends with a blank that a
// reader might trim.
std::string CsvField(std::string_view text);

// The fields joined by commas, ended by CRLF: one whole record, ready for one
// write.
std::string CsvLine(const std::vector<std::string>& fields);

// Splits text into records of fields. Quoted fields may hold commas, quotes
// and line breaks; records end with CRLF or a lone LF; a final record without
// a line end counts. An empty line is a record of one empty field, which
// callers skip. Never fails: a quote that is never closed takes the rest of
// the text into its field.
std::vector<std::vector<std::string>> CsvRecords(std::string_view text);

// One record of a file whose records never span lines (the change record):
// line without its line end. False, with fields as far as they came, when
// the line is not clean CSV: a quote left open, or a quote inside a field
// that does not begin with one.
bool CsvLineFields(std::string_view line, std::vector<std::string>& fields);

// A text field as a spreadsheet must take it: a text that begins with = + -
// @, a tab or CR would be run as a formula, so it gets a leading '; so does
// one that begins with ' itself, so that PlainText gives back exactly what
// was written. Numbers are written as they are, never through here.
std::string SpreadsheetText(std::string_view text);
// The text SpreadsheetText was given: one leading ' removed.
std::string PlainText(std::string_view field);

// ISO 8601 local time with milliseconds and the UTC offset,
// "2026-12-09T14:03:07.250+01:00", in the process's time zone.
std::string IsoLocalTime(std::chrono::system_clock::time_point when);

}  // namespace platform
