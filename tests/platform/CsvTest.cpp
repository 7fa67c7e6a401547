#include "platform/Csv.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

using platform::CsvLine;
using platform::CsvRecords;

// Every field survives a write and a read unchanged, whatever it holds.
TEST(Csv, FieldsRoundTripThroughLineAndReader)
{
    const std::vector<std::vector<std::string>> rows = {
        {"time", "address", "Z01 actual"},
        {"", "plain", ""},
        {"a,b", "say \"hi\"", "two\nlines"},
        {" leading", "trailing ", "cr\r\nlf"},
    };
    std::string text;
    for (const auto& row : rows)
        text += CsvLine(row);
    EXPECT_EQ(CsvRecords(text), rows);
    EXPECT_EQ(CsvLine({"a,b", "x\"y", "z"}), "\"a,b\",\"x\"\"y\",z\r\n");
}

TEST(Csv, ReaderTakesLoneLineFeedsAndAMissingLastLineEnd)
{
    const std::vector<std::vector<std::string>> expected = {{"a", "b"}, {"c", ""}, {"d"}};
    EXPECT_EQ(CsvRecords("a,b\nc,\r\nd"), expected);
    EXPECT_EQ(CsvRecords("\"open,field\nrest"), (std::vector<std::vector<std::string>>{{"open,field\nrest"}}));
    EXPECT_TRUE(CsvRecords("").empty());
}

TEST(Csv, IsoLocalTimeCarriesMillisecondsAndTheOffset)
{
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    struct Case
    {
        const char* zone;
        long long ms;
        const char* expected;
    };
    const Case cases[] = {
        {"UTC0", 1796824987250LL, "2026-12-09T14:03:07.250+00:00"},
        {"CET-1CEST,M3.5.0,M10.5.0/3", 1796824987250LL, "2026-12-09T15:03:07.250+01:00"},
        {"CET-1CEST,M3.5.0,M10.5.0/3", 1783602187005LL, "2026-07-09T15:03:07.005+02:00"},
        {"NST+3:30", 1796824987999LL, "2026-12-09T10:33:07.999-03:30"},
        {"UTC0", -1LL, "1969-12-31T23:59:59.999+00:00"},
    };
    for (const auto& c : cases) {
        setenv("TZ", c.zone, 1);
        tzset();
        const std::chrono::system_clock::time_point when{std::chrono::milliseconds(c.ms)};
        EXPECT_EQ(platform::IsoLocalTime(when), c.expected) << c.zone;
    }
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}
