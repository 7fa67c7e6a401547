// The CSV reader over any text, and the writer over what it read: written
// back and read again, every record comes back field for field.
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "platform/Csv.h"

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
    return 0;
}
