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

// A whole decimal number within [low, high] and nothing else: no sign, no
// blanks, at most 12 digits. Every command's numbers are read with it.
bool ParseWhole(const std::string& text, long long low, long long high, long long& value);

// Runs one command line (arguments without the program name). Results go to
// out, messages to err.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
