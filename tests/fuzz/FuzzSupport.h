#pragma once

// Shared pieces of the fuzzing harnesses. Each harness is one
// LLVMFuzzerTestOneInput; a failed property aborts, which libFuzzer reports
// as a crash with the input that caused it.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

class CUnit;

#define FUZZ_CHECK(condition)                                                                   \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "property failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                       \
        }                                                                                       \
    } while (0)

namespace fuzz {

// The directory of this process's files, made once and set as the program
// directory; on a memory file system where there is one.
const std::string& Dir();
std::string File(const std::string& name);

void Write(const std::string& path, const std::string& bytes);
std::string Read(const std::string& path);

// Everything a recipe carries, for comparing a record before and after.
struct Snapshot
{
    int16_t az;
    std::string type, revDate, comment;
    int32_t eprom, version, zones, params;
    int16_t width;
    std::vector<int32_t> values;
    bool operator==(const Snapshot&) const = default;
};
Snapshot Take(CUnit& unit);

// A unit record with a small fixed catalogue, offline.
void SetUpUnit(CUnit& unit);

}  // namespace fuzz
