// The CSV reader over any text, and the writer over what it read: written
// back and read again, every record comes back field for field. The change
// record's reader over the same text: only whole record lines come out, and
// a line it takes, written again, reads back as the same line.
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "platform/Csv.h"
#include "records/ChangeRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::vector<std::string>> records = platform::CsvRecords(text);
    std::string written;
    for (const auto& record : records) {
        FUZZ_CHECK(!record.empty());
        written += platform::CsvLine(record);
    }
    FUZZ_CHECK(platform::CsvRecords(written) == records);

    records::ChangeReadNotes notes;
    const auto lines = records::ParseChangeRecord(text, notes);
    std::string record = std::string(records::kChangeHeader) + "\r\n";
    for (const auto& line : lines) {
        FUZZ_CHECK(line.size() == records::kChangeColumns);
        record += records::ChangeLine(line);
    }
    if (!notes.bForeign) {
        records::ChangeReadNotes again;
        const auto reread = records::ParseChangeRecord(record, again);
        FUZZ_CHECK(again.nDamaged == 0);
        FUZZ_CHECK(reread.size() == lines.size());
    }
    return 0;
}
