// Whole-line appends: what a full disk, a crash or a second program can do
// to a file that grows line by line.
#include "platform/AppendFile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "TestDir.h"

using platform::CAppendFile;

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
