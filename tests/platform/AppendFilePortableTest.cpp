// Whole-line appends that every system must keep alike (the Linux-only cases,
// a size limit and the like, are in AppendFileTest.cpp).
#include <gtest/gtest.h>

#include "TestDir.h"
#include "platform/AppendFile.h"

using platform::CAppendFile;

// A last line without its line end is cut back to the line before it; a
// file that ends whole, or is empty, stays as it is.
TEST(AppendFile, ATornLastLineIsCutOffBeforeTheNextLine)
{
    struct Row
    {
        std::string before, cut, after;
    };
    const std::string longLine(10000, 'x');  // longer than one read backwards
    for (const Row& row : {Row{"", "", ""},
                           Row{"a\r\nb\r\n", "", "a\r\nb\r\n"},
                           Row{"a\r\nb\r\n2026-12-10T", "2026-12-10T", "a\r\nb\r\n"},
                           Row{"only a fragment", "only a fragment", ""},
                           Row{"a\n" + longLine, longLine, "a\n"},
                           Row{longLine + "\n" + longLine, longLine, longLine + "\n"},
                           Row{"a\r\nb\r", "b\r", "a\r\n"}}) {
        SCOPED_TRACE(row.before.substr(0, 20));
        TestDir dir;
        dir.Write("f", row.before);
        CAppendFile file;
        std::string error, cut;
        ASSERT_TRUE(file.Open(dir.File("f"), CAppendFile::Create::IfMissing, error)) << error;
        ASSERT_TRUE(file.RepairLastLine(cut, error)) << error;
        EXPECT_EQ(cut, row.cut);
        ASSERT_TRUE(file.AppendLine("new\r\n", error)) << error;
        ASSERT_TRUE(file.Close(error)) << error;
        EXPECT_EQ(dir.Read("f"), row.after + "new\r\n");
    }
}
