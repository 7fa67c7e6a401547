// The stop signals: the first one is kept, the events and the pipe are raised.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>

#include "platform/AutoResetEvent.h"
#include "platform/StopSignals.h"

using namespace platform;

TEST(StopSignals, FirstSignalIsKeptAndRaisesEventsAndPipe)
{
    AutoResetEvent scan, transfer;
    InstallStopSignals({&scan});
    InstallStopSignals({&transfer});  // adds an event, keeps the handler
    EXPECT_EQ(StopSignalExitStatus(), 0);
    ::raise(SIGTERM);
    ::raise(SIGHUP);  // a second signal does not replace the first
    EXPECT_EQ(StopSignalExitStatus(), 128 + SIGTERM);
    EXPECT_TRUE(scan.TryWait() && transfer.TryWait());
    char bytes[8];
    EXPECT_EQ(::read(StopSignalFd(), bytes, sizeof bytes), 2);

    ResetStopSignals();
    EXPECT_EQ(StopSignalNumber(), 0);
    struct sigaction current{};
    ::sigaction(SIGINT, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_DFL);
}
