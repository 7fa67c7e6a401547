#include "platform/SafeFormat.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>

using platform::FormatArg;
using platform::SafeFormat;

namespace {

struct Case
{
    const char* pattern;
    std::vector<FormatArg> args;
    std::string expected;
};

void RunCases(const std::vector<Case>& cases)
{
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("pattern \"") + c.pattern + "\"");
        EXPECT_EQ(SafeFormat(c.pattern, c.args), c.expected);
    }
}

}  // namespace

TEST(SafeFormat, SubstitutesExpectedConversionsLikePrintf)
{
    RunCases({
        {"Version %d.%02d", {1LL, 42LL}, "Version 1.42"},
        {"%02d", {5LL}, "05"},
        {"%02d", {123LL}, "123"},
        {"%-5s|", {std::string("ab")}, "ab   |"},
        {"%5s|", {std::string("ab")}, "   ab|"},
        {"%.2s", {std::string("abcdef")}, "ab"},
        {"%-6.3s|", {std::string("abcdef")}, "abc   |"},
        {"%+d % d", {5LL, 5LL}, "+5  5"},
        {"%-05d|", {42LL}, "42   |"},
        {"%.3d", {7LL}, "007"},
        {"%i", {-42LL}, "-42"},
        {"%d", {LLONG_MIN}, "-9223372036854775808"},
        {"%x %X %#x %#X", {255LL, 255LL, 255LL, 255LL}, "ff FF 0xff 0XFF"},
        {"%u", {-1LL}, "18446744073709551615"},
        {"%#d", {5LL}, "5"},
        {"%s %02d\t%s", {std::string("Unit"), 5LL, std::string("TORVA08")}, "Unit 05\tTORVA08"},
        {"%s (*.%d)|*.%d||", {std::string("Recipe files"), 7LL, 7LL}, "Recipe files (*.7)|*.7||"},
        {"", {1LL}, ""},
        {"no conversions", {}, "no conversions"},
    });
}

TEST(SafeFormat, PercentSigns)
{
    RunCases({
        {"%%", {}, "%"},
        {"100%% of %d", {5LL}, "100% of 5"},
        {"%%d", {5LL}, "%d"},
        {"%", {5LL}, "%"},
        {"100%", {}, "100%"},
        {"%5", {5LL}, "%5"},
        {"%-", {5LL}, "%-"},
        {"%-%d", {7LL}, "%-7"},
        {"%5%%", {}, "%5%"},
    });
}

TEST(SafeFormat, HostilePatternsAreCopiedAsTheyStand)
{
    const std::string s = "a";
    RunCases({
        {"%s%s%s%n", {s}, "a%s%s%n"},
        {"%n", {5LL}, "%n"},
        {"%99999d", {5LL}, "%99999d"},
        {"%1001d", {5LL}, "%1001d"},
        {"%.1001s", {s}, "%.1001s"},
        {"%99999999999999999999d", {5LL}, "%99999999999999999999d"},
        {"%*d", {5LL, 6LL}, "%*d"},
        {"%.*s", {5LL, s}, "%.*s"},
        {"%ld %lld %hd %zu", {5LL, 5LL, 5LL, 5LL}, "%ld %lld %hd %zu"},
        {"%p %f %e %c %lc %ls", {5LL}, "%p %f %e %c %lc %ls"},
        {"%1$d", {5LL}, "%1$d"},
        // The wrong type is not converted and does not use the argument up.
        {"%d", {s}, "%d"},
        {"%s", {5LL}, "%s"},
        {"%d %s", {s}, "%d a"},
        // Surplus conversions stay; surplus arguments are ignored.
        {"%d %d %d", {1LL, 2LL}, "1 2 %d"},
        {"%s", {s, s, 3LL}, "a"},
        // An inserted text is never read as a pattern.
        {"[%s]", {std::string("%s%n%d")}, "[%s%n%d]"},
        // A '%' before a multi-byte character leaves the character whole.
        {"%\xC3\xBC", {s}, "%\xC3\xBC"},
    });
}

TEST(SafeFormat, WidthsUpToTheLimitAreHonoured)
{
    EXPECT_EQ(SafeFormat("%1000d", {5LL}), std::string(999, ' ') + "5");
    EXPECT_EQ(SafeFormat("%-1000s|", {std::string("x")}), "x" + std::string(999, ' ') + "|");
    EXPECT_EQ(SafeFormat("%.1000d", {5LL}), std::string(999, '0') + "5");
    EXPECT_EQ(SafeFormat("%1000.1000d", {-5LL}), "-" + std::string(999, '0') + "5");
    const std::string text(3000, 'y');
    EXPECT_EQ(SafeFormat("%s", {text}), text);
}

TEST(SafeFormat, RandomPatternsStayBounded)
{
    // Patterns made of conversion characters in any order. Whatever a user
    // writes, the result is bounded by the pattern and the arguments: no
    // argument is read twice and no field grows past its limit.
    const std::string alphabet = "%%%-+ #0123456789.*dsinuxXlhpc$a";
    const std::vector<FormatArg> args = {42LL, std::string("text"), -7LL, std::string("%n%s")};
    std::mt19937 rng(20240601);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<int> length(0, 24);
    for (int i = 0; i < 20000; ++i) {
        std::string pattern;
        for (int n = length(rng); n > 0; --n)
            pattern += alphabet[pick(rng)];
        const std::string out = SafeFormat(pattern, args);
        ASSERT_LE(out.size(), pattern.size() + args.size() * 1025) << pattern;
    }
}
