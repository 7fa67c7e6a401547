// vorlent-cli end to end: the program as a separate process against the
// simulated bus.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <chrono>
#include <thread>
#include <cstdio>

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <pty.h>
#include <unistd.h>

#include "ChildProcess.h"
#include "SimFixture.h"
#include "TestDir.h"
#include "config/IniFile.h"
#include "recipe/Recipe.h"
#include "unit/Unit.h"

using unitsim::FaultKind;

namespace {

struct Result
{
    int status = -1;
    std::string out, err;
};

const char* const kGlobalIni =
    "[GLOBAL_PARAM_00]\r\nDescription_d=Sollwert\r\nDescription_e=Setpoint\r\nMinVal=0\r\nMaxVal=500\r\nCommand=TSOLL\r\n"
    "[GLOBAL_PARAM_01]\r\nDescription_d=Maximaltemperatur\r\nDescription_e=Maximum temperature\r\nMinVal=0\r\nMaxVal=600\r\nCommand=TMAX\r\n"
    "[GLOBAL_PARAM_07]\r\nDescription_d=Adresse\r\nDescription_e=Address\r\nMinVal=0\r\nMaxVal=0\r\nCommand=ADDR\r\n";

class Cli : public ::testing::Test
{
protected:
    void SetUp() override
    {
        home.Write("GLOBAL.INI", kGlobalIni);
        home.CopyResource("English.lng");
        auto small = MakeSimUnit(3, 7, 12, 7, 4);
        small.type = "TORVA 3";
        small.globals = {{"TSOLL", 180, 0, 500}, {"TMAX", 450, 0, 600}, {"ADDR", 3, 3, 3}};
        line.Bus().AddUnit(small);
        auto large = MakeSimUnit(12, 12, 120, 10, 5);
        large.type = "MZR 120";
        large.globals = small.globals;
        line.Bus().AddUnit(large);
    }

    // Runs the program with --home and --device and the given arguments;
    // with errOnTerminal its stderr is a terminal (a pseudo-terminal read
    // here) instead of a file.
    Result Run(std::vector<std::string> args, bool withDevice = true, bool errOnTerminal = false)
    {
        int master = -1, terminal = -1;
        if (errOnTerminal && openpty(&master, &terminal, nullptr, nullptr, nullptr) != 0)
            ADD_FAILURE() << "no pseudo-terminal";
        const pid_t pid = Launch(std::move(args), withDevice, terminal);
        std::string err;
        if (terminal >= 0) {
            close(terminal);
            // Read until the program's end closes the terminal (EIO).
            char buffer[4096];
            ssize_t n;
            while ((n = read(master, buffer, sizeof buffer)) > 0)
                err.append(buffer, static_cast<std::size_t>(n));
            close(master);
        }
        Result result = Collect(pid);
        if (terminal >= 0)
            result.err = err;
        return result;
    }

    // Starts the program (stderr to the terminal when one is given, else to
    // a file); Collect waits for it.
    pid_t Launch(std::vector<std::string> args, bool withDevice = true, int terminal = -1)
    {
        std::vector<std::string> argv = {VORLENT_CLI, "--home", home.Path()};
        if (withDevice) {
            argv.push_back("--device");
            argv.push_back(line.Path());
        }
        argv.insert(argv.end(), args.begin(), args.end());
        return SpawnWithOutput(std::move(argv), work.File("out"), work.File("err"), terminal);
    }

    Result Collect(pid_t pid)
    {
        Result result;
        result.status = ExitStatusOf(pid);
        result.out = ReadWholeFile(work.File("out"));
        result.err = ReadWholeFile(work.File("err"));
        return result;
    }

    void Start(int16_t timeoutMs = 20)
    {
        home.Write("CONFIG.INI", "[COM_PORT]\r\nPort=0\r\nTimeout=" + std::to_string(timeoutMs) +
                                     "\r\n[GENERAL]\r\nLanguage=ENGLISH\r\nAnzPar=10\r\n");
        line.Start();
    }

    // Changes one key of a recipe file, as a user editing it would.
    void Edit(const std::string& path, const std::string& section, const std::string& key, const std::string& value)
    {
        CIniFile file(path, true);
        file.SetValue(value);
        ASSERT_TRUE(file.WriteString(section, key));
    }

    // Zone 5's line holds actual, set, P01.. in six-character columns.
    void SetZone5P03To250(const std::string& recipe)
    {
        CIniFile file(recipe, true);
        file.ReadString("ZONE_PARAMETERS", "Zone05");
        std::string zone5 = file.GetValue();
        while (zone5.size() % 6)
            zone5.insert(zone5.begin(), ' ');
        zone5.replace(4 * 6, 6, "   250");
        Edit(recipe, "ZONE_PARAMETERS", "Zone05", zone5);
    }

    int32_t SimZoneParam(int address, int zone, int p)
    {
        std::lock_guard lock(line.Bus().Mutex());
        return line.Bus().UnitAt(address)->zoneParams[p - 1][zone - 1];
    }

    TestDir home{false};
    TestDir work{false};
    SimLine line;
};

}  // namespace

TEST_F(Cli, ScanListsAddressAzNumberAndTypePerUnit)
{
    Start(10);
    const Result r = Run({"scan"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "03\t7\tTORVA08\n12\t12\tMZR 120\n");
}

TEST_F(Cli, ScanOfAnEmptyBusSaysSo)
{
    line.Bus().AddFault(Fault(FaultKind::Silence, "", -1));
    Start(5);
    const Result r = Run({"scan"});
    EXPECT_EQ(r.status, 6);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(line.Path()), std::string::npos) << r.err;
}

TEST_F(Cli, UsageErrors)
{
    Start();
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"receive", "3"},
        {"receive", "0", work.File("r.7")},
        {"receive", "31", work.File("r.7")},
        {"receive", "x3", work.File("r.7")},
        {"send", "-3", work.File("r.7")},
        {"--port", "0", "scan"},
        {"--port", "32768", "scan"},
        {"--baud", "-9600", "scan"},
        {"--port", "1", "scan"},  // both --device and --port
        {"--timeout", "0", "scan"},
        {"--timeout", "32768", "scan"},
        {"--timeout", "fast", "scan"},
        {"--trace"},
        {"send", "3", "-"},  // '-' is standard output, for receive only
    };
    for (const auto& args : cases) {
        const Result r = Run(args);
        EXPECT_EQ(r.status, 1) << (args.empty() ? "(none)" : args[0]);
        EXPECT_NE(r.err.find("usage"), std::string::npos);
    }
}

TEST_F(Cli, HelpAndVersionAnswerWithoutAPort)
{
    const std::vector<std::vector<std::string>> cases = {
        {"--help"}, {"-h"}, {"scan", "--help"}, {"--port", "99", "--help"}, {"--version"}, {"receive", "--version"},
    };
    for (const auto& args : cases) {
        const Result r = Run(args, false);
        EXPECT_EQ(r.status, 0) << args[0];
        EXPECT_EQ(r.err, "") << args[0];
        if (args.back() == "--version") {
            EXPECT_EQ(r.out.rfind("vorlent-cli ", 0), 0u) << r.out;
            EXPECT_NE(r.out.find("program directory: " + home.Path() + " "), std::string::npos) << r.out;
        } else {
            EXPECT_EQ(r.out.rfind("usage: vorlent-cli", 0), 0u) << r.out;
            EXPECT_NE(r.out.find("--timeout MS"), std::string::npos);
        }
    }
}

TEST_F(Cli, APortThatCannotBeOpenedIsNamed)
{
    Start();
    Result r = Run({"--device", "/dev/vorlent-no-such-port", "scan"}, false);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("/dev/vorlent-no-such-port"), std::string::npos) << r.err;

    // Port=0 in the settings and no --device: no port configured.
    r = Run({"scan"}, false);
    EXPECT_EQ(r.status, 2);

    // A number beyond the built-in ones counts when [PORTS] maps it.
    home.Write("CONFIG.INI", home.Read("CONFIG.INI") + "[PORTS]\r\nCOM16=" + line.Path() + "\r\n");
    r = Run({"--port", "16", "scan"}, false);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("03\t7\tTORVA08"), std::string::npos) << r.out;
    r = Run({"--port", "17", "scan"}, false);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("COM17 stands for no device"), std::string::npos) << r.err;
}

TEST_F(Cli, ReceiveWritesTheUnitAsARecipeAndWritesNoProgramFile)
{
    Start();
    const std::string config = home.Read("CONFIG.INI");
    const std::string recipe = work.File("unit3.7");
    const Result r = Run({"receive", "3", recipe});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(home.Read("CONFIG.INI"), config);
    EXPECT_EQ(home.Read("GLOBAL.INI"), kGlobalIni);  // not renumbered either

    CUnit read;
    read.SetGlobalParams(std::vector<GlobalParamDef>(2));
    ASSERT_EQ(ReadRecipe(read, recipe), RecipeResult::Loaded);
    EXPECT_EQ(read.QueryAZNumber(), 7);
    EXPECT_EQ(read.QueryType(), "TORVA08");
    EXPECT_EQ(read.QueryZoneCount(), 12);
    EXPECT_EQ(read.QueryZoneParamCount(), 7);
    EXPECT_EQ(read.ReadGlobalParam(1), 180);
    EXPECT_EQ(read.ReadZoneParam(12, 7), SimZoneParam(3, 12, 7));
    EXPECT_NE(ReadWholeFile(recipe).find("180 - Setpoint"), std::string::npos);
}

TEST_F(Cli, ReceiveToStandardOutputWritesTheRecipeThere)
{
    Start();
    const Result r = Run({"receive", "3", "-"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind("[HEADER]", 0), 0u) << r.out.substr(0, 40);
    EXPECT_NE(r.out.find(kRecipeId), std::string::npos);
    EXPECT_NE(r.out.find("FileName=-\r\n"), std::string::npos);
    EXPECT_NE(r.out.find("180 - Setpoint"), std::string::npos);
    EXPECT_FALSE(work.Exists("-"));
}

TEST_F(Cli, ProgressIsShownOnlyOnATerminal)
{
    Start();
    const std::string recipe = work.File("unit3.7");
    Result r = Run({"receive", "3", recipe});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");

    r = Run({"receive", "3", recipe}, true, true);
    ASSERT_EQ(r.status, 0) << r.err;
    // The 2 complete global definitions and 7 zone parameter rows, each step
    // over the last on one line, never backwards, cleared at the end.
    EXPECT_EQ(r.err.rfind("\rreceiving rows from address 3: 0 of 9\033[K", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(": 9 of 9"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(": 1 of 9"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\n'), std::string::npos) << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - 4), "\r\033[K");

    Edit(recipe, "GLOBAL_PARAMETERS", "01", "200 - Setpoint");
    r = Run({"send", "3", recipe}, true, true);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("\rsending values to address 3: 1 of 1"), std::string::npos) << r.err;
}

TEST_F(Cli, TimeoutOptionOverridesTheSettingsForOneRun)
{
    // The unit answers its AZ number 200 ms late: longer than three tries at
    // the settings' 20 ms (each waits 40 ms after the request's 12 ms on the
    // wire at 9600 baud), shorter than one at 200 ms.
    line.Bus().AddFault(Fault(FaultKind::Delay, "?AZ#=", -1, 200));
    Start(20);
    const std::string config = home.Read("CONFIG.INI");
    const int before = line.Server().RequestCount();
    EXPECT_EQ(Run({"receive", "3", work.File("slow.7")}).status, 3);
    // The unit, later than three tries wait, still owes an answer to each of
    // them; the next run must not meet those. It takes up the third try once
    // it has answered the second, and answers it 200 ms later.
    for (int i = 0; i < 500 && line.Server().RequestCount() < before + 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_GE(line.Server().RequestCount(), before + 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(200 + 200));
    const Result r = Run({"--timeout", "200", "receive", "3", work.File("slow.7")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(home.Read("CONFIG.INI"), config);
}

TEST_F(Cli, ReceiveFromASilentAddressIsACommunicationError)
{
    Start();
    const Result r = Run({"receive", "5", work.File("r.7")});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("address 5"), std::string::npos) << r.err;
    EXPECT_FALSE(work.Exists("r.7"));
}

TEST_F(Cli, SendWritesWhatDiffersAndLeavesTheUnitHoldingIt)
{
    Start();
    const std::string recipe = work.File("unit12.12");
    ASSERT_EQ(Run({"receive", "12", recipe}).status, 0);
    SetZone5P03To250(recipe);
    Edit(recipe, "GLOBAL_PARAMETERS", "01", "200 - Setpoint");

    const std::size_t before = line.Bus().Requests().size();
    const Result r = Run({"--trace", work.File("send.trace"), "send", "12", recipe});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(SimZoneParam(12, 5, 3), 250);
    // One job: the port is held from the receive to the last write.
    const std::string trace = ReadWholeFile(work.File("send.trace"));
    ASSERT_NE(trace.find("# job"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("# job"), trace.rfind("# job")) << trace;
    {
        std::lock_guard lock(line.Bus().Mutex());
        EXPECT_EQ(line.Bus().UnitAt(12)->globals[0].value, 200);
    }
    // The receive, then two writes, each with its read-back (zone commands of
    // a unit with 120 zones are hexadecimal).
    const auto requests = line.Bus().Requests();
    std::vector<std::string> tail;
    for (std::size_t i = requests.size() - 4; i < requests.size(); ++i)
        tail.push_back(requests[i].text);
    EXPECT_EQ(tail, (std::vector<std::string>{"TSOLL=00200", "TSOLL=", "K05P03=000FA", "K05P03="}));
    EXPECT_GT(requests.size(), before + 4);
}

TEST_F(Cli, SendReportsEveryRefusedOrDifferingCell)
{
    line.Bus().AddFault(Fault(FaultKind::Nak, "K04P00=0", -1));
    Start();
    const std::string recipe = work.File("unit3.7");
    ASSERT_EQ(Run({"receive", "3", recipe}).status, 0);
    CIniFile file(recipe, true);
    file.ReadString("ZONE_PARAMETERS", "Zone04");
    std::string zone4 = file.GetValue();
    while (zone4.size() % 6)
        zone4.insert(zone4.begin(), ' ');
    zone4.replace(6, 6, "   199");
    Edit(recipe, "ZONE_PARAMETERS", "Zone04", zone4);
    Edit(recipe, "GLOBAL_PARAMETERS", "01", "900 - Setpoint");  // above MaxVal 500

    const Result r = Run({"send", "3", recipe});
    EXPECT_EQ(r.status, 5);
    EXPECT_NE(r.err.find("zone 4 set value: sent 199"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("global parameter 1"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("not sent, 900 is outside its limits"), std::string::npos) << r.err;
}

TEST_F(Cli, SendRefusesAFileThatIsNoRecipeOrOfAnotherUnit)
{
    Start();
    const std::string recipe = work.File("unit3.7");
    ASSERT_EQ(Run({"receive", "3", recipe}).status, 0);
    Result r = Run({"send", "12", recipe});
    EXPECT_EQ(r.status, 4);
    EXPECT_NE(r.err.find("another unit"), std::string::npos) << r.err;

    work.Write("notes.txt", "[HEADER]\r\nID=SOMETHING_ELSE\r\n");
    r = Run({"send", "3", work.File("notes.txt")});
    EXPECT_EQ(r.status, 4);
    r = Run({"send", "3", work.File("missing.7")});
    EXPECT_EQ(r.status, 4);
    // Refused before it is read whole: a device, and a recipe of 17 MB.
    EXPECT_EQ(Run({"send", "3", "/dev/zero"}).status, 4);
    std::filesystem::copy_file(recipe, work.File("huge.7"));
    std::filesystem::resize_file(work.File("huge.7"), 17u << 20);
    EXPECT_EQ(Run({"send", "3", work.File("huge.7")}).status, 4);
}

TEST_F(Cli, AUnitThatAnswersLateIsReceivedAndSentExactly)
{
    // At the time-out the field uses, every try of these requests answered
    // 250 ms late: the set values of the receive and the ACK of the write.
    line.Bus().AddFault(Fault(FaultKind::Delay, "KALP00=", -1, 250));
    line.Bus().AddFault(Fault(FaultKind::Delay, "K05P03=0250", -1, 250));
    Start(200);
    const std::string recipe = work.File("unit3.7");
    Result r = Run({"receive", "3", recipe});
    ASSERT_EQ(r.status, 0) << r.err;
    {
        CUnit read;
        read.SetGlobalParams(std::vector<GlobalParamDef>(2));
        ASSERT_EQ(ReadRecipe(read, recipe), RecipeResult::Loaded);
        std::lock_guard lock(line.Bus().Mutex());
        const auto* sim = line.Bus().UnitAt(3);
        for (int16_t z = 1; z <= 12; ++z) {
            EXPECT_EQ(read.ReadSetValue(z), sim->setValues[z - 1]) << "zone " << z;
            EXPECT_EQ(read.ReadZoneParam(z, 1), sim->zoneParams[0][z - 1]) << "zone " << z;
        }
    }

    SetZone5P03To250(recipe);
    r = Run({"send", "3", recipe});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(SimZoneParam(3, 5, 3), 250);
}

TEST_F(Cli, APortHeldByAnotherProgramIsRefusedAndTheHolderNamed)
{
    Start();
    {
        // Open without any lock, as a terminal program holds it.
        DeviceHolder holder(line.Path());
        ASSERT_TRUE(holder.Holds());
        const Result r = Run({"scan"});
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("in use by process " + std::to_string(holder.Pid())), std::string::npos) << r.err;
        EXPECT_TRUE(line.Bus().Requests().empty());  // not one telegram into its conversation
    }

    // A lock file of a live process in the system's lock directory.
    const std::string lockDir = access("/run/lock", W_OK) == 0 ? "/run/lock" : "";
    if (lockDir.empty())
        GTEST_SKIP() << "/run/lock is not writable here";
    std::string name = line.Path().substr(5);
    std::replace(name.begin(), name.end(), '/', '_');
    const std::string lock = lockDir + "/LCK.." + name;
    {
        std::FILE* f = std::fopen(lock.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fprintf(f, "%10d\n", static_cast<int>(getpid()));
        std::fclose(f);
    }
    const Result r = Run({"scan"});
    unlink(lock.c_str());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("in use by process " + std::to_string(getpid())), std::string::npos) << r.err;
    EXPECT_EQ(Run({"scan"}).status, 0);
}

TEST_F(Cli, AStopSignalEndsEveryCommandCleanly)
{
    // Each answer a while late, so that the signal comes mid-job.
    line.Bus().AddFault(Fault(FaultKind::Delay, "", -1, 30));
    Start(200);
    const std::string recipe = work.File("stopped.7");
    const struct
    {
        std::vector<std::string> args;
        int signal;
    } cases[] = {
        {{"receive", "3", recipe}, SIGINT},
        {{"receive", "3", "-"}, SIGTERM},
        {{"scan"}, SIGHUP},
    };
    for (const auto& c : cases) {
        const int before = line.Server().RequestCount();
        const pid_t pid = Launch(c.args);
        for (int i = 0; i < 500 && line.Server().RequestCount() < before + 3; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        kill(pid, c.signal);
        const Result r = Collect(pid);
        EXPECT_EQ(r.status, 128 + c.signal) << c.args[0] << ": " << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(std::filesystem::exists(recipe));
        // The exclusive flag is cleared: TIOCGEXCL reads it even for root.
        const int fd = open(line.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        int exclusive = 1;
        ASSERT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 0);
        close(fd);
        std::string name = line.Path().substr(5);
        std::replace(name.begin(), name.end(), '/', '_');
        EXPECT_FALSE(std::filesystem::exists("/run/lock/LCK.." + name));
    }
}
