// The shipped service unit, as systemd itself reads it.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "TestDir.h"

TEST(ServiceUnit, SystemdFindsNothingToComplainAbout)
{
    TestDir dir(false);
    // An instance of the template, its program the one just built (the
    // check wants the program to exist); nothing else changed.
    std::string unit = ReadWholeFile(VORLENT_SERVICE_UNIT);
    ASSERT_NE(unit.find("ExecStart=/usr/bin/vorlent-cli "), std::string::npos);
    unit.replace(unit.find("/usr/bin/vorlent-cli"), 20, VORLENT_CLI);
    for (const char* wanted : {"User=vorlent", "SupplementaryGroups=dialout", "Restart=on-failure",
                               "ProtectSystem=strict", "ProtectHome=yes", "NoNewPrivileges=yes", "PrivateTmp=yes",
                               "StateDirectory=vorlent", "EnvironmentFile=/etc/vorlent/monitor-%i.conf"})
        EXPECT_NE(unit.find(std::string(wanted) + "\n"), std::string::npos) << wanted;
    dir.Write("vorlent-monitor@line1.service", unit);
    const std::string command =
        "systemd-analyze verify --man=no " + dir.File("vorlent-monitor@line1.service") + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    const int status = pclose(pipe);
    EXPECT_EQ(status, 0) << output << "(systemd-analyze comes with systemd: run scripts/install-deps)";
    EXPECT_EQ(output, "");
}
