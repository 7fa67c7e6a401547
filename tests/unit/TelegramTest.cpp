// The telegram layer without a line: checksum, answer checks and decoders.
#include <gtest/gtest.h>

#include <cstdio>

#include "unit/Unit.h"

namespace {

// An answer as a unit frames it: letter, three characters, value, checksum, ETX.
std::string Framed(const std::string& value, char letter = 'G')
{
    std::string body = std::string(1, letter) + "03:" + value;
    char sum[4];
    std::snprintf(sum, sizeof sum, "%02X", CUnit::Checksum(body));
    return body + sum + '\x03';
}

}  // namespace

TEST(Checksum, IsTheByteSumModulo256)
{
    EXPECT_EQ(CUnit::Checksum("G01?TYP="), 0x21);  // 545 mod 256
    EXPECT_EQ(CUnit::Checksum(""), 0);
    EXPECT_EQ(CUnit::Checksum(std::string(2, '\xFF')), 0xFE);
}

TEST(CheckAnswer, AcceptsOnlyWholeAnswersWithUpperCaseChecksum)
{
    const std::string good = Framed("0250");
    EXPECT_TRUE(CUnit::CheckAnswer(good));

    std::string lower = good;
    // The checksum of this answer has a letter digit; make it lower case.
    for (std::size_t i = lower.size() - 3; i < lower.size() - 1; ++i)
        lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(lower[i])));
    ASSERT_NE(lower, good) << "pick a value whose checksum has a letter digit";
    EXPECT_FALSE(CUnit::CheckAnswer(lower));

    std::string wrong = good;
    wrong[5] = '9';
    EXPECT_FALSE(CUnit::CheckAnswer(wrong));

    // Shorter than letter, three characters, checksum and ETX: never accepted,
    // even when the few characters happen to add up.
    EXPECT_FALSE(CUnit::CheckAnswer(""));
    EXPECT_FALSE(CUnit::CheckAnswer("\x03"));
    EXPECT_FALSE(CUnit::CheckAnswer(Framed("").substr(0, 6)));
    EXPECT_TRUE(CUnit::CheckAnswer(Framed("")));
}

TEST(AnswerText, IsTheValueFieldWithoutTrailingBlanks)
{
    EXPECT_EQ(CUnit::AnswerText(Framed("TORVA 3 ")), "TORVA 3");
    EXPECT_EQ(CUnit::AnswerText(Framed("  lead")), "  lead");
    EXPECT_EQ(CUnit::AnswerText(Framed("")), "");
    std::string broken = Framed("MZR");
    broken[4] = 'X';
    EXPECT_EQ(CUnit::AnswerText(broken), "");
}

TEST(AnswerNumber, LearnsTheWidthFromTheFirstAnswerAndReadsOnlyTheField)
{
    CUnit unit;
    unit.SetOffline(true);
    ASSERT_EQ(unit.GetValueWidth(), 0);
    EXPECT_EQ(unit.AnswerNumber(Framed("0250"), false), 250);  // 11 characters
    EXPECT_EQ(unit.GetValueWidth(), 4);
    // The width stays until the next SetOffline.
    EXPECT_EQ(unit.AnswerNumber(Framed("12345"), false), 1234);
    EXPECT_EQ(unit.GetValueWidth(), 4);

    unit.SetOffline(false);
    EXPECT_EQ(unit.AnswerNumber(Framed("12345"), false), 12345);  // 12 characters
    EXPECT_EQ(unit.GetValueWidth(), 5);

    struct Case
    {
        const char* field;
        bool hex;
        int32_t expected;
    } cases[] = {
        {"-0012", false, -12}, {" 0042", false, 42}, {"00x12", false, 0},
        {"0006E", true, 0x6E}, {"000af", true, 0xAF}, {"ZZZZZ", true, 0},  // no hex digit reads 0
        // Hexadecimal is two's complement: the width's digits sign-extended
        // from their top bit, or eight digits as 32 bits.
        {"FFFF4", true, -12}, {"FFFFFFF4", true, -12}, {"7FFFF", true, 0x7FFFF}, {"80000", true, -0x80000},
        {"FFFFF", true, -1}, {"0000000C", true, 12}, {"80000000", true, INT32_MIN},
    };
    for (const Case& c : cases)
        EXPECT_EQ(unit.AnswerNumber(Framed(c.field), c.hex), c.expected) << c.field;
    {
        CUnit narrow;
        narrow.SetOffline(false);
        EXPECT_EQ(narrow.AnswerNumber(Framed("FFF4", 'g'), true), -12);  // learns width 4
        EXPECT_EQ(narrow.AnswerNumber(Framed("7FFF", 'g'), true), 0x7FFF);
        EXPECT_EQ(narrow.AnswerNumber(Framed("FFFFFFF4", 'g'), true), -12);
    }

    // A field shorter than the width: only the field is read, never the
    // checksum digits behind it.
    EXPECT_EQ(unit.AnswerNumber(Framed("7"), false), 7);
    EXPECT_EQ(unit.AnswerNumber(Framed("7", 'g'), true), 7);

    std::string broken = Framed("00250");
    broken[6] = '9';
    EXPECT_EQ(unit.AnswerNumber(broken, false), -1);
}

TEST(AnswerValueList, TakesOnlyAWholeRowOfTheZoneCount)
{
    CUnit unit;
    unit.SetOffline(true);
    unit.SetZoneCount(10);
    unit.SetOffline(false);
    unit.AnswerNumber(Framed("0001"), false);  // width 4
    int32_t row[kMaxZones + 8];
    std::fill(std::begin(row), std::end(row), -7);

    std::string ten;
    for (int i = 1; i <= 10; ++i) {
        char v[8];
        std::snprintf(v, sizeof v, "%04d", i * 11);
        ten += v;
    }
    ten.replace(4, 4, "-012");
    ASSERT_EQ(Framed(ten).size(), 47u);
    ASSERT_TRUE(unit.AnswerValueList(Framed(ten), row));
    EXPECT_EQ(row[0], 11);
    EXPECT_EQ(row[1], -12);
    EXPECT_EQ(row[9], 110);
    EXPECT_EQ(row[10], -7);

    // One value short or long, a partial value, a character that is no
    // digit, a broken checksum: nothing stored.
    std::string broken = Framed(ten);
    broken[4] = '5';
    std::string blank = ten, plus = ten;
    blank[8] = ' ';
    plus[8] = '+';
    for (const std::string& answer : {Framed(ten.substr(4)), Framed(ten + "0001"), Framed(ten + "00"),
                                      Framed(blank), Framed(plus), broken}) {
        std::fill(std::begin(row), std::end(row), -7);
        EXPECT_FALSE(unit.AnswerValueList(answer, row)) << answer;
        EXPECT_EQ(row[0], -7);
    }

    // Without a known width the values cannot be told apart.
    unit.SetOffline(false);
    EXPECT_FALSE(unit.AnswerValueList(Framed(ten), row));
    EXPECT_EQ(row[0], -7);
}
