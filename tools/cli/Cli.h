#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// Exit statuses of vorlent-cli.
enum CliStatus
{
    kCliOk = 0,
    kCliUsage = 1,
    kCliPort = 2,
    kCliComm = 3,
    kCliRecipe = 4,
    kCliSendDiffers = 5,
    kCliNoUnit = 6,
    kCliWriteFailed = 7,
};

// Runs one command line (arguments without the program name). Results go to
// out, messages to err.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
