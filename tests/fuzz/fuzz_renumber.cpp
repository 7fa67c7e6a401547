// The renumbering of GLOBAL.INI: only digits change, the length never does,
// and a second pass finds nothing left to change.
#include <string>

#include "FuzzSupport.h"
#include "config/Definitions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string path = fuzz::File("GLOBAL.INI");
    const std::string before(reinterpret_cast<const char*>(data), size);
    fuzz::Write(path, before);
    FUZZ_CHECK(RenumberDefinitionsFile() == 0);
    const std::string once = fuzz::Read(path);
    FUZZ_CHECK(once.size() == before.size());
    for (std::size_t i = 0; i < once.size(); ++i) {
        if (once[i] != before[i]) {
            FUZZ_CHECK(once[i] >= '0' && once[i] <= '9');
            FUZZ_CHECK(before[i] >= '0' && before[i] <= '9');
        }
    }
    FUZZ_CHECK(RenumberDefinitionsFile() == 0);
    FUZZ_CHECK(fuzz::Read(path) == once);
    return 0;
}
