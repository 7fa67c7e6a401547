// The decoders of a unit's answers: any bytes, and the same bytes with a
// valid checksum so that the field parsers are reached.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "unit/Unit.h"

namespace {

void Decode(const std::string& answer, int16_t width)
{
    const bool bValid = CUnit::CheckAnswer(answer);
    const std::string text = CUnit::AnswerText(answer);
    if (!bValid)
        FUZZ_CHECK(text.empty());
    else
        FUZZ_CHECK(text.size() + 7 <= answer.size());

    auto unit = std::make_unique<CUnit>();
    unit->SetValueWidth(width);
    const int32_t number = unit->AnswerNumber(answer, width % 2 == 0);
    if (!bValid)
        FUZZ_CHECK(number == -1);
    // A heap table of exactly the record's size: a value stored beyond it
    // is caught by the address sanitizer.
    std::vector<int32_t> values(kMaxZones, INT32_MIN);
    const bool bList = unit->AnswerValueList(answer, values.data());
    if (!bValid)
        FUZZ_CHECK(!bList);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const int16_t width = static_cast<int16_t>(data[0] % 8) - 1;  // -1 .. 6, 0 = not yet known
    std::string answer(reinterpret_cast<const char*>(data) + 1, size - 1);
    Decode(answer, width);
    if (answer.size() >= 7) {
        char checksum[4];
        std::snprintf(checksum, sizeof checksum, "%02X", CUnit::Checksum(answer.substr(0, answer.size() - 3)));
        answer.replace(answer.size() - 3, 2, checksum, 2);
        Decode(answer, width);
    }
    return 0;
}
