// Write, read, write: a record read from any recipe and written again reads
// back as the same record and writes the same bytes a second time.
#include <memory>
#include <string>

#include "FuzzSupport.h"
#include "config/TextMemory.h"
#include "platform/ProfileFile.h"
#include "recipe/Recipe.h"
#include "unit/Unit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static CTextMemory& texts = [] () -> CTextMemory& {
        static CTextMemory store;
        fuzz::Write(fuzz::File("t.lng"), "[GENERAL]\r\nLanguage=Deutsch\r\nFormatDate=%d.%m.%Y\r\nFormatTime=%H:%M\r\n"
                                         "LastIndex=0\r\n[TEXT]\r\n000=T\r\n");
        store.Load("t.lng");
        return store;
    }();
    constexpr std::time_t kNow = 1711920600;
    const std::string input = fuzz::File("in.rcp"), first = fuzz::File("first.rcp");
    fuzz::Write(input, std::string(reinterpret_cast<const char*>(data), size));

    auto unit = std::make_unique<CUnit>();
    fuzz::SetUpUnit(*unit);
    if (ReadRecipe(*unit, input) != RecipeResult::Loaded)
        return 0;
    if (!WriteRecipe(*unit, texts, first, kNow))
        return 0;
    const std::string written = fuzz::Read(first);
    FUZZ_CHECK(platform::IsValidUtf8(written));

    auto again = std::make_unique<CUnit>();
    fuzz::SetUpUnit(*again);
    FUZZ_CHECK(ReadRecipe(*again, first) == RecipeResult::Loaded);
    FUZZ_CHECK(fuzz::Take(*again) == fuzz::Take(*unit));
    FUZZ_CHECK(WriteRecipe(*again, texts, first, kNow));
    FUZZ_CHECK(fuzz::Read(first) == written);
    return 0;
}
