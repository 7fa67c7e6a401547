// Whole-line appends: what a full disk, a crash or a second program can do
// to a file that grows line by line.
#include "platform/AppendFile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "TestDir.h"

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

// A line that does not fit goes out not at all, whichever part of it would
// fit; the header goes only into an empty file; a new file is never an old
// one.
TEST(AppendFile, ALineGoesOutWholeOrNotAtAll)
{
    TestDir dir;
    CAppendFile file;
    std::string error;
    ASSERT_TRUE(file.Open(dir.File("f"), CAppendFile::Create::New, error)) << error;
    EXPECT_TRUE(file.IsRegular());
    ASSERT_TRUE(file.AppendFirstLine("head\r\n", error));
    ASSERT_TRUE(file.AppendFirstLine("head again\r\n", error));
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit limit = old;
    limit.rlim_cur = 6 + 10 + 5;  // the header, one line and half of the next
    signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const bool first = file.AppendLine("line one\r\n", error);
    const bool second = file.AppendLine("line two\r\n", error);
    const bool third = file.AppendLine("abc\r\n", error);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, SIG_DFL);
    EXPECT_TRUE(first);
    EXPECT_FALSE(second);
    EXPECT_TRUE(third);  // what fits still goes
    EXPECT_EQ(dir.Read("f"), "head\r\nline one\r\nabc\r\n");

    CAppendFile again;
    EXPECT_FALSE(again.Open(dir.File("f"), CAppendFile::Create::New, error));
    EXPECT_EQ(error, "the file exists already");
    std::string head;
    ASSERT_TRUE(file.ReadHead(8, head, error));
    EXPECT_EQ(head, "head\r\nli");
}
