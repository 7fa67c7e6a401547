#include "platform/Csv.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/LocalTime.h"

namespace platform {

std::string CsvField(std::string_view text)
{
    const bool bQuote = text.find_first_of(",\"\r\n") != std::string_view::npos ||
                        (!text.empty() && (text.front() == ' ' || text.back() == ' '));
    if (!bQuote)
        return std::string(text);
    std::string field = "\"";
    for (char c : text) {
        if (c == '"')
            field += '"';
        field += c;
    }
    field += '"';
    return field;
}

std::string CsvLine(const std::vector<std::string>& fields)
{
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += ',';
        line += CsvField(fields[i]);
    }
    line += "\r\n";
    return line;
}

std::vector<std::vector<std::string>> CsvRecords(std::string_view text)
{
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> record;
    std::string field;
    bool bQuoted = false;
    std::size_t i = 0;
    auto endRecord = [&] {
        record.push_back(std::move(field));
        field.clear();
        records.push_back(std::move(record));
        record.clear();
    };
    while (i < text.size()) {
        const char c = text[i++];
        if (bQuoted) {
            if (c != '"')
                field += c;
            else if (i < text.size() && text[i] == '"')
                field += text[i++];
            else
                bQuoted = false;
        } else if (c == '"') {
            bQuoted = true;
        } else if (c == ',') {
            record.push_back(std::move(field));
            field.clear();
        } else if (c == '\n') {
            endRecord();
        } else if (c == '\r' && i < text.size() && text[i] == '\n') {
            ++i;
            endRecord();
        } else {
            field += c;
        }
    }
    if (!field.empty() || !record.empty() || bQuoted)
        endRecord();
    return records;
}

bool CsvLineFields(std::string_view line, std::vector<std::string>& fields)
{
    fields.clear();
    std::string field;
    std::size_t i = 0;
    for (;;) {
        if (i < line.size() && line[i] == '"') {
            ++i;
            for (;;) {
                if (i >= line.size()) {
                    fields.push_back(std::move(field));
                    return false;
                }
                const char c = line[i++];
                if (c != '"') {
                    field += c;
                } else if (i < line.size() && line[i] == '"') {
                    field += '"';
                    ++i;
                } else {
                    break;
                }
            }
            if (i < line.size() && line[i] != ',') {
                fields.push_back(std::move(field));
                return false;
            }
        } else {
            const std::size_t end = std::min(line.find(',', i), line.size());
            field.assign(line.substr(i, end - i));
            i = end;
            if (field.find('"') != std::string::npos) {
                fields.push_back(std::move(field));
                return false;
            }
        }
        fields.push_back(std::move(field));
        field.clear();
        if (i >= line.size())
            return true;
        ++i;  // the comma
    }
}

std::string SpreadsheetText(std::string_view text)
{
    if (!text.empty() && std::string_view("=+-@\t\r'").find(text.front()) != std::string_view::npos)
        return "'" + std::string(text);
    return std::string(text);
}

std::string PlainText(std::string_view field)
{
    if (!field.empty() && field.front() == '\'')
        field.remove_prefix(1);
    return std::string(field);
}

std::string IsoLocalTime(std::chrono::system_clock::time_point when)
{
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(when.time_since_epoch()).count();
    // Floor division, so times before 1970 keep a positive millisecond part.
    std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    long millis = static_cast<long>(ms % 1000);
    if (millis < 0) {
        millis += 1000;
        --seconds;
    }
    long offset = 0;
    const std::tm local = LocalTimeOf(seconds, offset);
    char stamp[40];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
    const long minutes = std::labs(offset) / 60;
    char tail[40];
    std::snprintf(tail, sizeof tail, ".%03ld%c%02ld:%02ld", millis, offset < 0 ? '-' : '+',
                  minutes / 60, minutes % 60);
    return std::string(stamp) + tail;
}

}  // namespace platform
