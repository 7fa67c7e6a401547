// The text store: Load of any file, GetText inside and outside the list,
// and every text used as a pattern the way the callers use them.
#include <stdexcept>
#include <string>

#include "FuzzSupport.h"
#include "config/TextMemory.h"
#include "platform/ProfileFile.h"
#include "platform/SafeFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    fuzz::Write(fuzz::File("f.lng"), std::string(reinterpret_cast<const char*>(data), size));
    CTextMemory store;
    if (!store.Load("f.lng")) {
        FUZZ_CHECK(store.GetTextCount() == 0);
        return 0;
    }
    const int count = store.GetTextCount();
    FUZZ_CHECK(count >= 1 && count <= 10000);
    FUZZ_CHECK(platform::IsValidUtf8(store.GetLanguageName()));
    for (int n = -1; n <= count; ++n) {
        if (n < 0 || n == count) {
            bool bThrown = false;
            try {
                store.GetText(n);
            } catch (const std::invalid_argument&) {
                bThrown = true;
            }
            FUZZ_CHECK(bThrown);
            FUZZ_CHECK(store.GetTextOr(n, "\x01") == "\x01");
            continue;
        }
        const std::string& text = store.GetText(n);
        FUZZ_CHECK(platform::IsValidUtf8(text));
        const std::string fallback = store.GetTextOr(n, "\x01");
        FUZZ_CHECK(fallback == text || (fallback == "\x01" && text.empty()));
        if (n < 80)
            platform::SafeFormat(text, {12LL, std::string("TX-4"), -7LL});
    }
    return 0;
}
